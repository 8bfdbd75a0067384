# Device configuration page of the web UI: lists the interfaces of the radio service named by
# RADLEX_SERVICE, with serial number and connection state. Runs under tclsh with nothing but
# Tcl's own library. Non-ASCII text is written as \u escapes, since the shell reads this file
# in the system encoding.
package require http

fconfigure stdout -encoding utf-8 -translation lf

# Text to HTML.
proc Html {text} {
    string map {& &amp; < &lt; > &gt; \" &quot; ' &#39;} $text
}

# "bin://host:port" or "bin://host:port/" as the XML-RPC address of that service.
proc ServiceAddress {url} {
    if {![regexp {^bin://([^/:]+|\[[0-9A-Fa-f:]+\]):([0-9]+)/?$} $url -> host port]} {
        return ""
    }
    return "http://$host:$port/RPC2"
}

# XML entities and character references of a value back to text.
proc XmlText {text} {
    set names {lt < gt > amp & quot \" apos '}
    set out ""
    while {[regexp -indices {&(#x[0-9A-Fa-f]+|#[0-9]+|lt|gt|amp|quot|apos);} $text all ref]} {
        lassign $all from to
        append out [string range $text 0 [expr {$from - 1}]]
        set name [string range $text {*}$ref]
        if {[string match #x* $name]} {
            append out [format %c [scan [string range $name 2 end] %x]]
        } elseif {[string match #* $name]} {
            append out [format %c [scan [string range $name 1 end] %d]]
        } else {
            append out [dict get $names $name]
        }
        set text [string range $text [expr {$to + 1}] end]
    }
    append out $text
}

# Calls listRadlexInterfaces. Sets the result to a list of {address connected} pairs and
# returns "", or returns a German text that says what went wrong.
proc ListInterfaces {address resultVar} {
    upvar 1 $resultVar interfaces
    set interfaces {}
    set request "<?xml version=\"1.0\"?><methodCall><methodName>listRadlexInterfaces</methodName><params></params></methodCall>"
    if {[catch {http::geturl $address -query $request -type text/xml -timeout 3000} token]} {
        return "Der Funkdienst ist nicht erreichbar."
    }
    set status [http::status $token]
    set code [http::ncode $token]
    set body [http::data $token]
    http::cleanup $token
    if {$status ne "ok"} {
        return "Der Funkdienst antwortet nicht."
    }
    if {$code != 200} {
        return "Der Funkdienst hat die Anfrage abgelehnt (HTTP $code)."
    }
    if {[string match *<fault>* $body]} {
        return "Der Funkdienst hat mit einem Fehler geantwortet."
    }
    if {![string match *<methodResponse>* $body]} {
        return "Die Antwort des Funkdienstes ist unverst\u00e4ndlich."
    }
    foreach struct [regexp -all -inline {<struct>.*?</struct>} $body] {
        set serial ""
        set connected 0
        foreach {member name value} [regexp -all -inline {<member>\s*<name>([^<]*)</name>\s*<value>(<[a-z0-9.]+>[^<]*</[a-z0-9.]+>|<[a-z0-9.]+/>|[^<]*)</value>\s*</member>} $struct] {
            switch -- $name {
                ADDRESS {
                    regexp {^(?:<string>)?([^<]*)} $value -> serial
                    set serial [XmlText $serial]
                }
                CONNECTED {
                    set connected [regexp {<boolean>\s*1\s*</boolean>} $value]
                }
            }
        }
        lappend interfaces [list $serial $connected]
    }
    return ""
}

set service [expr {[info exists env(RADLEX_SERVICE)] ? $env(RADLEX_SERVICE) : ""}]
set icOptions [expr {[info exists env(IC_OPTIONS)] ? [split $env(IC_OPTIONS) |] : {}}]

# The flags this page honours: each hides one section of the configuration.
set sections {
    NO_ROOMS           R\u00e4ume         "Zuordnung der Ger\u00e4te zu R\u00e4umen"
    NO_FUNCTIONS       Funktionen         "Schalt- und Messfunktionen der Ger\u00e4te"
    NO_PROFILE_MAPPING Profilzuordnung    "Zuordnung von Ger\u00e4teprofilen"
}

set message ""
set interfaces {}
if {$service eq ""} {
    set message "Es ist kein Funkdienst eingerichtet. Bitte w\u00e4hlen Sie unter Datei, Einstellungen, wie Ihre Ger\u00e4te erreicht werden."
} elseif {[set address [ServiceAddress $service]] eq ""} {
    set message "Die Adresse des Funkdienstes ist ung\u00fcltig."
} else {
    set message [ListInterfaces $address interfaces]
}

puts "Content-Type: text/html; charset=utf-8"
puts "Cache-Control: no-store"
puts ""
puts "<!DOCTYPE html>
<html lang=\"de\">
<head>
<meta charset=\"utf-8\">
<title>Ger\u00e4tekonfiguration</title>
<link rel=\"stylesheet\" href=\"/style.css\">
</head>
<body>
<header><h1>Velantrix Konfigurator</h1></header>
<nav>
  <a href=\"/index.htm\">Startseite</a>
  <a href=\"/config/devconfig.cgi\">Ger\u00e4tekonfiguration</a>
</nav>
<main>
<h2>Ger\u00e4tekonfiguration</h2>"
puts "<p class=\"muted\">Funkdienst: [Html [expr {$service eq {} ? {(keiner)} : $service}]]</p>"

if {$message ne ""} {
    puts "<p class=\"hint\" id=\"message\">[Html $message]</p>"
} elseif {[llength $interfaces] == 0} {
    puts "<p class=\"hint\" id=\"message\">Der Funkdienst meldet keine Interfaces.</p>"
} else {
    puts "<h3>Interfaces</h3>"
    puts "<table id=\"interfaces\"><tr><th>Seriennummer</th><th>Zustand</th></tr>"
    foreach interface $interfaces {
        lassign $interface serial connected
        if {$connected} {
            set state "<span class=\"ok\">verbunden</span>"
        } else {
            set state "<span class=\"off\">nicht verbunden</span>"
        }
        puts "<tr><td>[Html $serial]</td><td>$state</td></tr>"
    }
    puts "</table>"
}

foreach {flag title text} $sections {
    if {$flag ni $icOptions} {
        puts "<h3>[Html $title]</h3><p>[Html $text]: noch keine Eintr\u00e4ge.</p>"
    }
}

set hidden {}
foreach {flag title text} $sections {
    if {$flag in $icOptions} {
        lappend hidden "$title ($flag)"
    }
}
if {[llength $hidden] > 0} {
    puts "<p class=\"muted\" id=\"options\">In dieser Installation ausgeblendet: [Html [join $hidden {, }]]</p>"
}
puts "</main>
</body>
</html>"
