#include "ProppageConfig.h"

#include "DialogTemplate.h"

ProppageConfig::ProppageConfig(const DialogTemplate& dialogTemplate, ConnectionSettings& settings)
    : settings_(settings) {
    BuildDialog(*this, dialogTemplate);
    // The page's caption heads the page; the controls keep their places below it.
    setTitle(QString::fromUtf8(dialogTemplate.caption));
}
