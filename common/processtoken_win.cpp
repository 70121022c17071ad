// SPDX-License-Identifier: GPL-3.0-or-later
#include "processtoken_win.h"

namespace ProcessToken {

std::unique_ptr<char[]> information(HANDLE process, TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(size ? new char[size] : nullptr);
    if (!buffer || !GetTokenInformation(token, kind, buffer.get(), size, &size))
        buffer.reset();
    CloseHandle(token);
    return buffer;
}

} // namespace ProcessToken
