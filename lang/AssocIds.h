// Resource ids of the package installer and the application installer.
#pragma once

// Caption of the installers' message boxes: the one warning caption the suite's boxes share
// (its text lies with the program's, beside the tray states).
#define IDS_INSTALL_CAPTION 11808
// Separator between a folder and a name, on the PC and on a device (a backslash).
#define IDS_CAP_SEPARATOR 12269
#define IDS_APP_DESCRIPTION 12271
// Takes two texts: the version the application requires, then the device's version.
#define IDS_APP_DEVICE_TOO_OLD 12320
#define IDS_CAP_DESCRIPTION 12369
#define IDS_INSTALL_BROWSE_TITLE 12419
#define IDS_INSTALL_BROWSE_TEXT 12420
#define IDS_CAP_NOT_A_PACKAGE 12426
#define IDS_CAP_NO_DEVICE_FOLDER 12428
#define IDS_APP_COPY_CAPTION 12455
// Takes the name of a file to install that would not lie below the chosen folder.
#define IDS_CAP_NAME_OUTSIDE_FOLDER 12493

#define IDI_PACKAGE 11905

// The package copy's progress window.
#define IDD_CAP_COPY 12021
#define IDC_CAP_OVERALL_PROGRESS 14064
#define IDC_CAP_ITEM_PROGRESS 14065
#define IDC_CAP_STATUS 14071
#define IDC_INSTALL_PICTURE 14072

// The install script's question.
#define IDD_CAP_ASK 12038
#define IDC_CAP_YES_TO_ALL 14086
#define IDC_CAP_NO_TO_ALL 14087
#define IDC_CAP_QUESTION 14088
