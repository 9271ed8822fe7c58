#pragma once

namespace ordana {

// Prints the character set listing of /listall (csv = false) or
// /listallcsv (csv = true) through the message log.
void PrintCharsetListing(bool csv);

}  // namespace ordana
