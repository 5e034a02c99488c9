// Texts and the dialog of the hub's folder browser, property sheets and device refusal.
#pragma once

// Message box asking for a device before the folder browser opens.
#define IDS_HUB_NO_DEVICE_CAPTION 12458
#define IDS_HUB_NO_DEVICE_PROMPT 12459
// Property sheet titles: a device ("%s" is its name and id), an item ("%s" is its path).
#define IDS_HUB_DEVICE_PROPERTIES 12216
#define IDS_HUB_ITEM_PROPERTIES 12467
// The caption the suite's components give their message boxes (its text is among the
// program's texts).
#define IDS_HUB_MESSAGE_CAPTION 12469
// A device that was connected but did not identify itself ("%s" is its string id).
#define IDS_HUB_DEVICE_REFUSED 16218

// The device property sheet: a tab control above OK, Cancel and Apply.
#define IDD_PROPERTY_SHEET 15100
#define IDC_SHEET_APPLY 15101
#define IDC_SHEET_TABS 15102
