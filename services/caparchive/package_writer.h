// Writes a package file: the container with the catalog first and one entry per item, in order
// (layout in package_catalog.h). Items are compressed when that makes them smaller.
#pragma once

#include "byte_io.h"
#include "package.h"

namespace caparchive {

// kErrorInvalidParameter for a name with a zero byte or longer than kMaxItemNameLength;
// kErrorPackageTooLarge when the package does not fit the layout: more than 65534 items, names past
// the first 64 KiB of the file, or a file of 4 GiB or more. Nothing is written then.
int WritePackage(const Package& package, ByteSink& sink);

} // namespace caparchive
