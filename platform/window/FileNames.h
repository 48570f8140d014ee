// File names between the toolkit and the file system. The toolkit holds a name as text and
// shows a byte that is not UTF-8 as U+FFFD, so the text of a Latin-1 name, encoded again,
// names a different file (or none). A chosen path is found again by the folder entries it
// came from.
#pragma once

#include <optional>
#include <string>

// The file system's bytes for an absolute path shown as `text`: each part is the one entry of
// its folder that reads as that text; a part that no entry reads as is taken as UTF-8. Nothing
// when an entry cannot be told apart from another one that reads the same.
std::optional<std::string> FileSystemPathOfText(const std::u16string& text);
