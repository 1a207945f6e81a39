#include "platform/line_end.h"

extern const std::string_view LINE_END = "\n";
