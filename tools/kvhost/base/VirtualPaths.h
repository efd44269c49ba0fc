// Virtual paths (the "/a/b.asp" form that names a file under the site root)
// and the one check that a path on disk lies inside the root.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Resolves "." and ".." of an absolute virtual path; false when ".." would
// climb above "/".
bool NormalizeVirtualPath(std::string_view path, std::string* out);
// The virtual path of path seen from the page at pageVirtualPath (absolute
// paths stand for themselves); false when it leads above the root.
bool ResolveVirtualPath(const std::string& pageVirtualPath, std::string_view path, std::string* out);
// Server.MapPath: the file system path of a virtual path.
bool MapVirtualPath(const std::string& rootDirectory, const std::string& pageVirtualPath,
                    std::string_view path, std::string* out);

// The file system path that virtualPath names below rootDirectory (a
// canonical directory), symlinks not followed: "/" as the root adds nothing.
std::string UnderRoot(const std::string& rootDirectory, std::string_view virtualPath);

// The canonical path (symlinks followed) of rootDirectory + virtualPath,
// false when it does not exist or lies outside the root. rootDirectory is
// canonical, without a trailing '/'; the root itself counts as inside.
// *below, when given, receives the resolved path's part below the root,
// from its '/' ("/" for the root itself; everything lies below "/").
bool ResolveInsideRoot(const std::string& rootDirectory, std::string_view virtualPath,
                       std::filesystem::path* resolved, std::string* below = nullptr);
