# Device configuration page of the web UI: lists the interfaces of the radio service named by
# RADLEX_SERVICE, with serial number and connection state. Runs under tclsh with Tcl's own
# library and tDOM, the XML parser packaged for Tcl. Non-ASCII text is written as \u escapes,
# since the shell reads this file in the system encoding.
package require http
package require tdom

fconfigure stdout -encoding utf-8 -translation lf

# Text to HTML.
proc Html {text} {
    string map {& &amp; < &lt; > &gt; \" &quot; ' &#39;} $text
}

# "bin://host:port" or "bin://host:port/" as the XML-RPC address of that service. The host is a
# name, an IPv4 address or an IPv6 address, bare ("bin://::1:2001") or in brackets.
proc ServiceAddress {url} {
    if {![regexp {^bin://([^/]+):([0-9]+)/?$} $url -> host port] || $port < 1 || $port > 65535} {
        return ""
    }
    if {[regexp {^\[([0-9A-Fa-f:.]+)\]$} $host -> bare]} {
        set host $bare
    }
    if {[string first : $host] >= 0} {
        if {![regexp {^[0-9A-Fa-f:.]+$} $host]} {
            return ""
        }
        set host "\[$host\]"
    } elseif {![regexp {^[A-Za-z0-9._-]+$} $host]} {
        return ""
    }
    return "http://$host:$port/RPC2"
}

# Ends a transfer that grows beyond any sensible answer.
proc LimitAnswer {token total current} {
    if {$current > 4194304} {
        http::reset $token toolarge
    }
}

# The text of an XML-RPC value node: that of its type element, or its own when it has none.
proc ValueText {value} {
    set typed [$value selectNodes {*[1]}]
    if {$typed ne ""} {
        return [$typed text]
    }
    return [$value text]
}

# The answer's bytes as text, in the encoding its XML declaration names (UTF-8 when none).
proc AnswerText {bytes} {
    set encoding utf-8
    if {[regexp {^\s*<\?xml[^>]*encoding\s*=\s*["']([A-Za-z0-9._-]+)["']} $bytes -> name]} {
        set tcl [tDOM::IANAEncoding2TclEncoding $name]
        if {$tcl ne "" && $tcl in [encoding names]} {
            set encoding $tcl
        }
    }
    set text [encoding convertfrom $encoding $bytes]
    # The declaration has done its part; the parser reads the text as it now is.
    regsub {^\s*<\?xml[^>]*\?>} $text {} text
    return $text
}

# Reads the interfaces from an answer's document into the result as {address connected} pairs:
# each element of the answer's array that is a struct, by its members ADDRESS and CONNECTED.
# Returns "" for an answer, "fault" for a fault answer; an error for any other document.
proc ReadAnswer {doc resultVar} {
    upvar 1 $resultVar interfaces
    set root [$doc documentElement]
    if {[$root nodeName] ne "methodResponse"} {
        error "not an answer"
    }
    if {[$root selectNodes fault] ne ""} {
        return fault
    }
    set list [$root selectNodes {params/param/value/array/data}]
    if {[llength $list] != 1} {
        error "not a list"
    }
    foreach value [$list selectNodes value] {
        set serial ""
        set connected 0
        foreach member [$value selectNodes struct/member] {
            set name [string trim [$member selectNodes {string(name)}]]
            set memberValue [$member selectNodes value]
            if {[llength $memberValue] != 1} {
                continue
            }
            switch -- $name {
                ADDRESS {
                    set serial [ValueText $memberValue]
                }
                CONNECTED {
                    set connected [expr {[string trim [ValueText $memberValue]] in {1 true}}]
                }
            }
        }
        lappend interfaces [list $serial $connected]
    }
    return ""
}

# Calls listRadlexInterfaces at the address; the result is the list {status code body} of the
# HTTP package, "error" when no connection came about, "timeout" after 3 s. The call runs in a
# child shell, because the name lookup of a connection blocks and is not covered by the HTTP
# package's own time-out; a child still running when this gives up is ended with the script's
# process group by the web server.
proc FetchAnswer {address} {
    set chan [open |[list [info nameofexecutable] [info script] --fetch $address] r]
    fconfigure $chan -blocking 0 -translation binary
    set ::fetched ""
    set ::fetchDone 0
    fileevent $chan readable [list ReadFetched $chan]
    set timer [after 3000 {set ::fetchDone timeout}]
    vwait ::fetchDone
    after cancel $timer
    if {$::fetchDone eq "timeout"} {
        return timeout
    }
    catch {close $chan}
    if {[catch {llength $::fetched}]} {
        return error
    }
    return $::fetched
}

proc ReadFetched {chan} {
    append ::fetched [read $chan]
    if {[eof $chan]} {
        fileevent $chan readable {}
        set ::fetchDone 1
    }
}

# The child's part: one call, its outcome as a list on standard output, bytes unchanged.
proc FetchChild {address} {
    fconfigure stdout -translation binary
    set request "<?xml version=\"1.0\"?><methodCall><methodName>listRadlexInterfaces</methodName><params></params></methodCall>"
    # HTTP/1.0, so that an answer without a length is read to its end; raw bytes, decoded by
    # the caller.
    if {[catch {http::geturl $address -query $request -type text/xml -timeout 3000 -binary 1 \
            -protocol 1.0 -progress LimitAnswer} token]} {
        puts -nonewline error
        return
    }
    puts -nonewline [list [http::status $token] [http::ncode $token] [http::data $token]]
    http::cleanup $token
}

# Calls listRadlexInterfaces. Sets the result to a list of {address connected} pairs and
# returns "", or returns a German text that says what went wrong.
proc ListInterfaces {address resultVar} {
    upvar 1 $resultVar interfaces
    set interfaces {}
    set outcome [FetchAnswer $address]
    if {[llength $outcome] != 3} {
        if {$outcome eq "timeout"} {
            return "Der Funkdienst antwortet nicht."
        }
        return "Der Funkdienst ist nicht erreichbar."
    }
    lassign $outcome status code body
    if {$status eq "toolarge"} {
        return "Die Antwort des Funkdienstes ist zu gro\u00df."
    }
    if {$status ne "ok"} {
        return "Der Funkdienst antwortet nicht."
    }
    if {$code != 200} {
        return "Der Funkdienst hat die Anfrage abgelehnt (HTTP $code)."
    }
    set unreadable "Die Antwort des Funkdienstes ist unverst\u00e4ndlich."
    if {[catch {dom parse [AnswerText $body]} doc]} {
        return $unreadable
    }
    if {[catch {ReadAnswer $doc interfaces} outcome]} {
        set interfaces {}
        set outcome unreadable
    }
    $doc delete
    switch -- $outcome {
        fault {
            return "Der Funkdienst hat mit einem Fehler geantwortet."
        }
        unreadable {
            return $unreadable
        }
    }
    return ""
}

if {[lindex $argv 0] eq "--fetch"} {
    FetchChild [lindex $argv 1]
    exit 0
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
    set message "Zurzeit l\u00e4uft kein Funkdienst. Bitte w\u00e4hlen Sie unter Datei, Einstellungen, wie Ihre Ger\u00e4te erreicht werden."
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
<link rel=\"stylesheet\" href=\"../style.css\">
</head>
<body>
<header><h1>Velantrix Konfigurator</h1></header>
<nav>
  <a href=\"../index.htm\">Startseite</a>
  <a href=\"devconfig.cgi\">Ger\u00e4tekonfiguration</a>
</nav>
<main>
<h2>Ger\u00e4tekonfiguration</h2>"
if {$service ne "" && [regexp {^bin://(.+):([0-9]+)/?$} $service -> serviceHost servicePort]} {
    regsub {^\[(.*)\]$} $serviceHost {\1} serviceHost
    puts "<p class=\"muted\" id=\"service\">Funkdienst auf [Html $serviceHost], Port [Html $servicePort]</p>"
}

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
        lappend hidden $title
    }
}
if {[llength $hidden] > 0} {
    puts "<p class=\"muted\" id=\"options\">Diese Installation bietet nicht: [Html [join $hidden {, }]].</p>"
}
puts "</main>
</body>
</html>"
