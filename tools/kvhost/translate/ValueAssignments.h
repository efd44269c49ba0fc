// Page authors store values the way their pages always have:
//   Session("cart") = 3;  Application("hits") = n + 1;  Response.Cookies("lang") = "de";
// Script cannot assign to a call, so such a statement in a code block is
// rewritten to the two-argument call Session("cart", 3) that stores it.
// Line breaks stay where they were.
#pragma once

#include <string>
#include <string_view>

std::string RewriteValueAssignments(std::string_view code);
