#pragma once
// Why image N of a file cannot be used, in the user's words: the file is
// empty, ends inside its first header, is not a D88 file, holds fewer images,
// or image N is an interrupted read. w and i print these lines after their
// "no such disk" message, so a user learns the cause and what to type next.
#include <string>
#include <vector>

class ImageFile;

// The lines that say why image `index` (from 1) of the open file `name` cannot
// be used: the cause first, then the file's images, then the command that
// shows them. Empty when the image can be selected (an interrupted read counts
// as one only with acceptInterrupted). Moves the file position and the base
// offset: select again after it.
std::vector<std::string> selectionProblem(ImageFile& image, const std::string& name, int index,
                                          bool acceptInterrupted = false);

// A file argument quoted for a POSIX shell when it holds anything the shell
// would take apart (';', blanks, quotes); as it is otherwise.
std::string shellQuoted(const std::string& argument);
