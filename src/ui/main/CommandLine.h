#pragma once

#include <QByteArray>

#include <vector>

namespace ov {

// The option that file managers put before the files they hand over: "ombrevault
// --files A B" puts A and B on the pending list as two entries. Recognised only as the
// very first argument; `ombrevault ./--files` names a file of that name.
inline constexpr char kFilesOption[] = "--files";

// The pending-list entries the program's arguments name, taken from the raw argv before
// QApplication removes the options it understands.
//
// Without the files option the whole argument text is one entry: everything after the
// program's own name joined by single blanks, with leading and trailing blanks removed,
// not split, quotation marks kept. No argument text gives no entry; an all-blank text
// gives one empty entry.
//
// After the files option every argument is an entry of its own, exactly as given
// (blanks kept); a file: URI of this machine stands for its path, decoded byte for byte.
// Empty arguments name nothing and are passed over.
struct CommandLine
{
    std::vector<QByteArray> entries;
};

CommandLine commandLineText(int argc, const char* const* argv);

} // namespace ov
