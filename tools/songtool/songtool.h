// The song tool's command line, callable from tests.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

// Exit status 0 on success, 1 on invalid song data or a rendered file that
// cannot be written (as songrender's own write), 2 on a usage error
// (including other files that cannot be read or written).
int songtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
