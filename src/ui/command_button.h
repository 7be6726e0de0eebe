#pragma once
#include <QPushButton>

// The type of the dialogs' command buttons ("Trace", "Host >", "About..."). They are
// plain push buttons for now; when they get their own flat painting, this is the one
// place that changes, and the dialogs keep their members and connections.
using CommandButton = QPushButton;
