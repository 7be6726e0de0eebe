#pragma once
#include <QString>

#include <vector>

// One target of a watch: the host as given, and the label a targets file gave it.
struct WatchTarget {
    QString host;
    QString name; // empty: none given
    QString where; // "FILE:LINE" for a target read from a file; empty for one on the command line
};

// The targets file of --targets FILE, one target a line:
//
//     # a comment
//     HOST [name=LABEL] [# a comment]
//
// Words are separated by spaces or tabs; a word starting with '#' begins a comment that
// runs to the end of the line; blank lines and comment lines say nothing. HOST is what the
// command line takes (a name, an IPv4 address, an IPv6 address with or without brackets).
// LABEL is 1 to 64 letters, digits, '.', '_' or '-' (safe in a file name, a metric label
// and a shell word alike). A host or a label listed twice is an error, as is anything else
// on a line.
//
// Appends the targets of `text` (the file's contents, named `fileName` in messages) to
// *targets. On the first bad line returns false with "FILE:LINE: what is wrong" in *error,
// and appends nothing.
bool ParseTargets(const QString& text, const QString& fileName, std::vector<WatchTarget>* targets, QString* error);

// The same, reading the file; an unreadable or empty file is an error too.
bool ReadTargetsFile(const QString& fileName, std::vector<WatchTarget>* targets, QString* error);
