#pragma once
// The page at "/": tools/serve/page.html, compiled into the server, so that
// the binary alone is enough to try it in a browser.

extern const char *const kPageHtml;
