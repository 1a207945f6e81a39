// A Windows console edits the line being typed itself (arrows, history), so
// the avatar client reads its standard input as plain lines there.
#include "avatar/line_input.h"
#include "platform/standard_input.h"

std::unique_ptr<LineInput> makeEditedLineInput(const char*) {
    return makePlainLineInput(openStandardInput());
}
