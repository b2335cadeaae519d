// Opening the drawings, and telling whether two paths name one file.
#ifndef QUORVANE_FILES_H
#define QUORVANE_FILES_H

#include <cstdio>
#include <string>

namespace quorvane {

/// Opens an input in binary mode; null with `error` set (a folder gives EISDIR).
std::FILE* open_input(const std::string& host, int& error);

/// Creates or truncates the output, in binary mode; null with `error` set.
std::FILE* create_output(const std::string& host, int& error);

/// True when both paths exist and lead to the same file, through links or
/// not: same device and inode, or same volume and file index on Windows.
bool same_file(const std::string& a, const std::string& b);

}  // namespace quorvane

#endif
