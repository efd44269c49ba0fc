// Makes sure the component's classes can be created by ProgID: when the
// class registry does not lead to them, the module registers itself there.
#pragma once

#include <string>

bool EnsureComponentRegistered(const std::string& modulePath, std::string* error);
