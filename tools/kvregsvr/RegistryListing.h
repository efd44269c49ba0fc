// What kvregsvr --list shows, and how --system keeps an installed tree
// movable.
#pragma once

#include <cstdio>
#include <string>

// For every registry file of the search path, in lookup order: its path and
// role, then one line per ProgID it registers:
//   ProgID {CLSID} MODULE            (MODULE made absolute)
//   ProgID {CLSID} MODULE (missing)  when no such file exists
// A ProgID that an earlier file answers for is marked "(hidden)". False,
// with *error set, when a registry file cannot be read.
bool PrintRegistryListing(std::FILE* out, std::string* error);

// Rewrites the values in registryFile that name modulePath (or its folder)
// as paths relative to the registry's folder.
bool MakeModulePathsRelative(const std::string& modulePath, const std::string& registryFile, std::string* error);
