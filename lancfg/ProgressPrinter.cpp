#include "ProgressPrinter.h"

#include "Command.h"

void ProgressPrinter::OnProgress(int percent, const std::string& text) {
    Print(out_, "\r[%-48s]: ", text.c_str());
    Print(out_, "%3d%% done", percent);
}
