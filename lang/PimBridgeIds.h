// Resource ids of the mail bridge for scripts: its filter dialog and texts.
#pragma once

#define IDD_PIMBRIDGE_FILTER 12040
#define IDC_PIMBRIDGE_DAYS 16185
#define IDC_PIMBRIDGE_DAYS_SPIN 16186
#define IDC_PIMBRIDGE_LIMIT_SIZE 16187
#define IDC_PIMBRIDGE_MAIL_SIZE 16188
#define IDC_PIMBRIDGE_CUT 16192
#define IDC_PIMBRIDGE_CUT_SIZE 16193

// The warning's caption is the program's title text (12469, defined by the program's fragment).
#define IDS_PIMBRIDGE_CAPTION 12469
#define IDS_PIMBRIDGE_DAYS_NOT_NUMBER 12478
// Appended to a body cut for the device.
#define IDS_PIMBRIDGE_CUT_MARKER 12479
