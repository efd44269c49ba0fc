// Text and path helpers of the page objects and the web server: encodings
// and virtual paths (the "/a/b.asp" form that names a file under the site root).
#pragma once

#include <string>
#include <string_view>

#include "PageContext.h"

std::string HtmlEncode(std::string_view text);
// Letters, digits and "-_.~" stay, a space becomes "+", every other byte %XX.
std::string UrlEncode(std::string_view text);
// "+" is a space in form data (plusIsSpace); false for a broken %-escape.
bool UrlDecode(std::string_view text, bool plusIsSpace, std::string* out);
// name=value pairs of a query string or urlencoded form body, in order;
// pairs that do not decode are left out.
NameValues ParseUrlEncoded(std::string_view text);
// Every value given for name (ASCII case ignored) joined with ", "; false
// when there is none.
bool JoinedValues(const NameValues& values, std::string_view name, std::string* out);

// Resolves "." and ".." of an absolute virtual path; false when ".." would
// climb above "/".
bool NormalizeVirtualPath(std::string_view path, std::string* out);
// The virtual path of path seen from the page at pageVirtualPath (absolute
// paths stand for themselves); false when it leads above the root.
bool ResolveVirtualPath(const std::string& pageVirtualPath, std::string_view path, std::string* out);
// Server.MapPath: the file system path of a virtual path.
bool MapVirtualPath(const std::string& rootDirectory, const std::string& pageVirtualPath,
                    std::string_view path, std::string* out);
