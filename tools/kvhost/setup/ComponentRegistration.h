// Makes sure the component's classes can be created by ProgID: when the
// class registry does not lead to them, the module of this build or
// installation registers itself there.
#pragma once

#include <string>
#include <vector>

bool EnsureComponentRegistered(const std::string& modulePath, std::string* error);

// When a registry names another module for the component's ProgIDs, that
// one is what will be loaded: a line for each, naming the registry file and
// both modules, to be shown before anything is loaded. Loads nothing.
std::vector<std::string> ForeignRegistrationWarnings(const std::string& ownModule);
