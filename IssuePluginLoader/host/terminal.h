// The terminal, as the host uses it: whether standard input is one, reading a line there
// without echo (the password prompt), and the width of standard output's window. termios and
// ioctl on POSIX, the console API on Windows; the one place of the host that knows which.
#pragma once

#include <string>

namespace host {

bool stdin_is_terminal();

// A line typed at the terminal, not shown; false at end of input. Throws std::runtime_error
// when the echo cannot be switched off. An interrupt restores the echo before it ends us.
bool read_line_without_echo(std::string& line);

// Columns of standard output's terminal window; 0 when it is not a terminal.
int terminal_columns();

}  // namespace host
