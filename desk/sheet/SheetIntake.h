// `velkdesk import` for page files: every page of a faxed or scanned file read as a reply
// sheet and handed to the importer as a registration of the channel "fax" or "scan".
#pragma once

#include <string>
#include <vector>

#include "desk/Database.h"
#include "desk/sheet/PageImage.h"
#include "desk/sheet/SheetReader.h"

namespace desk {

class CImporter;

// The registration a read sheet gives; `page` counts from 1.
Registration RegistrationFromSheet(const sheet::SheetReading& reading, const sheet::PageImage& image,
                                   const std::string& path, int page, const std::string& receivedAt);

// Reads every page of the page files into `importer`, two files at a time on a machine with two
// cores and one page at a time in each, handed to the importer in their order. A page that is
// no reply sheet is reported and counted as rejected; a file that cannot be read, or whose page
// is refused for its size, is reported as failed (the pages before that one are kept).
void ImportPageFiles(CImporter& importer, const std::vector<std::string>& paths);

// Ends the recognisers that ImportPageFiles started. Call it once the import is over: Tesseract's
// shared dictionaries are gone by the time static objects are destroyed, and a recogniser ended
// after them leaves them allocated.
void ReleasePageReaders();

}  // namespace desk
