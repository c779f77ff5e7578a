// Hiding credentials in URLs before a text is shown or stored.
#pragma once
#include <string>
#include <string_view>

namespace genloom::core {

// `text` with every http(s) URL's user-info replaced by "***@" and the values of query
// parameters that look like secrets (key, token, secret, password, signature, auth, ...)
// replaced by "***"; the rest of the text is unchanged.
std::string redact_urls(std::string_view text);

}  // namespace genloom::core
