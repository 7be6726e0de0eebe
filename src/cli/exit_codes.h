#pragma once
// hoplantern-cli's exit statuses, for a trace and a watch alike (EXIT STATUS in its man page).
enum ExitCode {
    kTraced = 0, // a trace ran to its end, a watch ended, or help was printed
    kUnresolved = 1,
    kUsage = 2, // bad options or targets, or more sockets than the process may open
    kCannotReceive = 3,
    kCannotSend = 4,
    kCannotWriteReport = 5, // an output asked for cannot be made: the HTML report,
    kCannotListen = 5, // or the metrics' listener
    kInterrupted = 130, // as a shell reports a program ended by SIGINT
};
