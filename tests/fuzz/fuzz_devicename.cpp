// SPDX-License-Identifier: GPL-3.0-or-later
// Device interface names as the platform hands them over, in UTF-8 and UTF-16.
#include "devicenotice.h"
#include "fuzzsupport.h"

#include <QStringList>

namespace {

void checkName(const QString &name)
{
    using FuzzSupport::check;
    const ParsedDeviceName parsed = parseDeviceInterfaceName(name);
    const QStringList fields = name.split(QLatin1Char('#'));
    if (fields.size() < 2) {
        check(!parsed.valid, "a name without a second field parsed");
        return;
    }
    const int parts = fields.at(1).split(QLatin1Char('&')).size();
    if (parsed.valid)
        check(parts >= (parsed.isDisk ? 3 : 2), "parsed a second field with too few parts");
    else
        check(parts < (name.contains(QLatin1String("USBSTOR")) ? 3 : 2),
            "refused a name with enough parts");
    check(parsed.isDisk == name.contains(QLatin1String("USBSTOR")) || !parsed.valid,
        "disk rule chosen without USBSTOR");
    // Parsing is a pure function of the name.
    const ParsedDeviceName again = parseDeviceInterfaceName(name);
    check(again.valid == parsed.valid && again.vendorId == parsed.vendorId
            && again.productId == parsed.productId,
        "the same name parsed twice differently");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkName(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));
    // Copied so the UTF-16 units are aligned.
    const QByteArray units(reinterpret_cast<const char *>(data), int(size & ~size_t(1)));
    checkName(QString::fromUtf16(
        reinterpret_cast<const char16_t *>(units.constData()), units.size() / 2));
    return 0;
}
