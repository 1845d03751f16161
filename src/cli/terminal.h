#pragma once

// What the terminal programs ask of the terminal they run in, a file a platform.

namespace kibro::terminal {

// Whether standard input was closed when the program started (kibro-send - <&-). Asked
// before anything opens a file: the number would go to the first one opened, and `-` would
// read that. Puts an empty input in its place, so nothing else takes it.
[[nodiscard]] bool takeClosedStandardInput();
// The same for standard output (kibro-receive - >&-): the number would go to the port, and `-`
// would write what came back into the line.
[[nodiscard]] bool takeClosedStandardOutput();

// A reader of standard output that goes away makes writing to it fail, not end the program.
void keepOnBrokenPipe();

// The width of the terminal standard error shows on; COLUMNS, then 80, when it does not say.
[[nodiscard]] int errorColumns();

// A terminal that knows no escapes for erasing a line (TERM=dumb, or none named).
[[nodiscard]] bool isDumb();

} // namespace kibro::terminal
