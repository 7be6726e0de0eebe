#pragma once

// Gives up every capability the process holds (permitted, effective and inheritable).
// Called right after the raw socket is open: nothing else the program does needs a
// privilege, so windows, name lookups and settings all run without one.
bool DropAllCapabilities();

// True when the process runs with root's user id.
bool RunningAsRoot();
