// What the host asks of the terminal: its width and a line read without echo. The one seam
// to the platform's terminal interface (termios and ioctl here).
#pragma once

#include <string>

namespace host {

// Columns of the terminal on standard output, or 0 when it is not a terminal.
int terminal_columns();

// Whether standard input is a terminal (a prompt can be answered).
bool input_is_terminal();

// Shows `prompt` on standard error and reads one line from the terminal without echo; the
// echo comes back even when the user interrupts. False when nothing could be read; throws
// std::runtime_error when the echo cannot be switched off.
bool read_hidden_line(const std::string& prompt, std::string& line);

}  // namespace host
