// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include <windows.h>

// What a process's access token says about who it runs as, for the owner checks of the
// Windows layer (planted links, the single-instance objects).
namespace ProcessToken {

// The token's TokenUser or TokenOwner information (a TOKEN_USER or TOKEN_OWNER in the
// buffer), or null when the token cannot be read.
std::unique_ptr<char[]> information(HANDLE process, TOKEN_INFORMATION_CLASS kind);

// The security identifier of the user a process runs as, in the buffer of information().
inline PSID userSid(const std::unique_ptr<char[]> &user)
{
    return user ? reinterpret_cast<TOKEN_USER *>(user.get())->User.Sid : nullptr;
}

} // namespace ProcessToken
