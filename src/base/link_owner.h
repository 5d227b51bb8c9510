#pragma once
// Whether a name may be followed when it is a symbolic link. A link that another user
// planted in a shared folder (a sticky /tmp, a group folder) would otherwise make the
// program read a table of theirs or overwrite a file of ours that it names. The rule is
// the kernel's protected_symlinks rule made unconditional: a link is followed only when
// it belongs to us, or to the owner of the folder that holds it (who could replace any
// name there anyway).

#include <string>

namespace orb {

// True when pPath is not a symbolic link (or does not exist) or is a link we may follow.
// False with the reason in `why` ("a symbolic link of user 1001 ...") otherwise, and
// when the name cannot be looked at for another reason than its absence.
bool MayFollowLink(const char* pPath, std::string& why);

// open() for a file that the program creates or rewrites by name (its log): a link is
// not followed unless MayFollowLink allows it, and the check cannot be raced by a link
// planted between the look and the open. Returns the fd or -1 with the reason in `why`.
int OpenForWriting(const char* pPath, int nFlags, unsigned nMode, std::string& why);

}  // namespace orb
