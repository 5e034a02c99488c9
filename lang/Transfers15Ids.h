// Texts and dialogs of the 1.5 generation's transfers (import, export, copy on the device) and of
// the confirmations asked before a device item is replaced, deleted or renamed.
#pragma once

// Overwrite and read-only confirmations.
#define IDD_OVERWRITE_15 12011
#define IDD_SYSTEM_OVERWRITE_15 12029
#define IDD_READ_ONLY_DELETE_15 12034
#define IDC_CONFIRM_DETAILS_TEXT 14007
#define IDC_CONFIRM_FOR_ALL 14008
#define IDC_CONFIRM_ITEM 14009
#define IDC_CONFIRM_DETAILS_BUTTON 14010
#define IDC_CONFIRM_ICON 14011
#define IDS_CONFIRM_OVERWRITE_DETAILS 12274
#define IDS_CONFIRM_ITEM 12447
#define IDS_CONFIRM_HIDE_DETAILS 12448
#define IDS_CONFIRM_SHOW_DETAILS 12449
#define IDS_CONFIRM_RENAME_READ_ONLY 16216
#define IDS_CONFIRM_RENAME_READ_ONLY_CAPTION 16217

// Progress and results of the transfers.
#define IDS_TRANSFER_ITEM_INFO 12293
#define IDS_TRANSFER_FILE_PATH_CHARS 16215
#define IDS_TRANSFER_NO_DESTINATION 20003
#define IDS_TRANSFER_NO_CALLBACK 20004
#define IDS_TRANSFER_NO_PC_FOLDER 20011
#define IDS_TRANSFER_CANCELLED 20012
#define IDS_TRANSFER_NO_ROOM 20016
#define IDS_TRANSFER_FAILED 20017
#define IDS_TRANSFER_PC_ITEM_UNREADABLE 20019
#define IDS_TRANSFER_SINK_REFUSED 20020
#define IDS_TRANSFER_FOLDER_FAILED 20022
#define IDS_TRANSFER_SOURCE_MISSING 20023

// Ids whose texts are shared with other parts of the suite (defined in their fragments): the
// transfers report with them too.
#define IDS_TRANSFER_DEVICE_GONE 20001    // shared with the hub (Zv0409.rc)
#define IDS_TRANSFER_NO_SOURCE 20002      // the device object's fragment
#define IDS_TRANSFER_BAD_CHARS 20025      // shared with the hub (Zv0409.rc)
#define IDS_TRANSFER_LISTING_UNREADABLE 12306
#define IDS_TRANSFER_UNKNOWN_VOLUME 12314
