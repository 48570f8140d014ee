// The names under which the card's kernel software is found. The utility only names,
// loads and calls these components; they are kept here in one place.
#pragma once

// Bundle identifier of the card's normal SCSI driver (the status tools list it as the
// identifier, a space and the version in parentheses).
inline constexpr const char kSC820DriverBundleID[] = "com.tavik.driver.ZolSC820";
// Registry class of that driver: the parent of every SCSI device entry on the card.
inline constexpr const char kSC820DriverClass[] = "ZolSC820";
// The kernel extension carried in the utility's bundle, relative to the bundle path.
inline constexpr const char kUtilityKextName[] = "ZOL_SC820_DRVR_X.kext";
inline constexpr const char kUtilityKextSubpath[] = "/Contents/Resources/ZOL_SC820_DRVR_X.kext";
inline constexpr const char kUtilityKextInfoSubpath[] =
    "/Contents/Resources/ZOL_SC820_DRVR_X.kext/Contents/Info.plist";
// Key of a bundle's version in its information dictionary.
inline constexpr const char kBundleVersionKey[] = "CFBundleVersion";
// Registry class of the utility driver, whose user client takes the six commands.
inline constexpr const char kUtilityDriverClass[] = "com_tavik_iokit_sc820utl_drvr";
