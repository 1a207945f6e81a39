#include "server/map/map_page.h"

std::string_view mapPageHtml() {
    static constexpr char html[] =
#include "live_map_html.inc"
        ;
    return {html, sizeof html - 1};
}
