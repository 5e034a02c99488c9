// Texts and dialogs of the 1.5 generation's device factories and item property pages.
#pragma once

// The device list dialog that names a device seen for the first time.
#define IDD_DEVICE_REGISTRATION 12004
#define IDC_DEVICE_NAME 14004
#define IDC_DEVICE_OWN 14005
#define IDC_DEVICE_GUEST 14006
#define IDS_DEVICE_NAME_TAKEN 12298
#define IDS_DEVICE_NAME_INVALID 12403

// The file, media and folder property pages.
#define IDD_FILE_PAGE_15 12500
#define IDD_MEDIA_PAGE_15 12510
#define IDD_FOLDER_PAGE_15 12520
#define IDC_PAGE_NAME 12501
#define IDC_PAGE_TYPE 12502
#define IDC_PAGE_LOCATION 12503
#define IDC_PAGE_SIZE 12504
#define IDC_PAGE_TIME 12505
// Attribute check boxes: hidden (bit 0), read-only (bit 2), system (bit 3) of the item.
#define IDC_PAGE_HIDDEN 12507
#define IDC_PAGE_READ_ONLY 12506
#define IDC_PAGE_SYSTEM 14258
#define IDC_PAGE_COUNTS 12521
#define IDC_MEDIA_TYPE 12511
#define IDC_MEDIA_USED 12512
#define IDC_MEDIA_FREE 12513
#define IDC_MEDIA_TOTAL 12532
#define IDC_MEDIA_USED_SWATCH 12514
#define IDC_MEDIA_FREE_SWATCH 12515
#define IDS_PAGE_TITLE_15 12248
#define IDS_PAGE_COUNTS_15 12250
#define IDS_PAGE_FOLDER_TYPE_15 12251
#define IDS_PAGE_SYSTEM_RENAME 12415
#define IDS_PAGE_FILE_ATTRIBUTES_FAILED 16221
#define IDS_PAGE_FOLDER_ATTRIBUTES_FAILED 16222
