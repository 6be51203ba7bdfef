/* dazwic.h - the daz codec's identities and registration, shared by the
 * DLL (daz_wic.c, registry.c) and its tests. The installer (orvx.wxs) writes
 * the same registry rows as dazwic_register. */
#ifndef DAZWIC_H
#define DAZWIC_H

#include <windows.h>

/* The decoder's class, the container format and the vendor. */
DEFINE_GUID(CLSID_DazWicDecoder, 0xfc40e1c5, 0x7666, 0x4662, 0x9d, 0x9b, 0x39, 0x4f, 0x3e, 0xb6,
            0x5d, 0x5a);
DEFINE_GUID(GUID_ContainerFormatDaz, 0xcff6cfbb, 0xd53b, 0x4dca, 0xb7, 0xc0, 0xe2, 0x56, 0xe3, 0x43,
            0x26, 0x3d);
DEFINE_GUID(GUID_VendorOrvanti, 0xa6822081, 0x08fb, 0x456d, 0xb7, 0xe3, 0x74, 0x59, 0x65, 0xfc,
            0xeb, 0x2a);

/* Writes the codec's and the file type's registry rows under
 * HKEY_CLASSES_ROOT, the DLL being at dll_path; removes them. */
HRESULT dazwic_register(const WCHAR* dll_path);
HRESULT dazwic_unregister(void);

#endif
