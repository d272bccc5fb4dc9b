#include "info_statuses.h"

#include "info_report.h"

const ExitStatusRow infoExitStatuses[12] = {
    {INFO_FIT, "fit to send: every check passed"},
    {INFO_USAGE, "usage error"},
    {INFO_UNREADABLE, "cannot be read, or VNloader's loader refuses it"},
    {INFO_PACKAGE_CRC, "the package body does not match its CRC: corrupted or cut"},
    {INFO_PAGE_HEADER,
     "the deciphered page header does not check out: wrong key, wrong -EA, or corrupted"},
    {INFO_REFUSED, "VNloader's transfer would refuse the image (unknown type, image over its "
                   "page allotment, no image data)"},
    {INFO_MISMATCH, "the contents disagree with the headers or the file type"},
    {INFO_OUT_OF_RANGE, "part of the image would not be sent"},
    {INFO_HEX_CHECKSUM, "a HEX record's checksum is wrong or missing: the file is damaged"},
    {INFO_HEX_OVERLAP, "HEX data records write over earlier ones"},
    {INFO_HEX_NO_END, "a HEX file has no end-of-file record: it may be cut or still being written"},
    {INFO_HEX_AFTER_END, "data records after the end-of-file record: other tools stop there, "
                         "VNloader sends them"},
};
