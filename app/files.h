// Opening the drawings, and telling whether two paths name one file.
#ifndef QUORVANE_FILES_H
#define QUORVANE_FILES_H

#include <cstdio>
#include <string>

namespace quorvane {

/// Opens an input in binary mode; null with `error` set (a folder gives EISDIR).
std::FILE* open_input(const std::string& host, int& error);

/// Creates the output, or opens it to be written over, in binary mode, for
/// reading too; null with `error` set. Its writer cuts it to its new length.
std::FILE* create_output(const std::string& host, int& error);

/// A file without a name in the folder of `beside`, for part of the output
/// written ahead of its place; it goes when closed, or when the process ends
/// however it ends. Null where the system or the file system has no such files.
std::FILE* create_part(const std::string& beside);

/// True when both paths exist and lead to the same file, through links or
/// not: same device and inode, or same volume and file index on Windows.
bool same_file(const std::string& a, const std::string& b);

}  // namespace quorvane

#endif
