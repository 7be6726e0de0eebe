#pragma once
#include "flat_button.h"

// The type of the dialogs' command buttons ("Trace", "Host >", "About..."): the flat
// button, which paints itself and posts its click after the release.
using CommandButton = CFlatButton;
