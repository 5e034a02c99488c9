// Resource ids of the subscription update and the subscription customisation.
#pragma once

#define IDD_SUBSCRIPTION_UPDATE 16050
#define IDC_SUBSCRIPTION_LINK 16180

#define IDS_SUBSCRIPTION_FAILED_CAPTION 16212
// Takes one text: the name of the package file.
#define IDS_SUBSCRIPTION_FAILED 16213
#define IDS_SUBSCRIPTION_ADDRESS 16214
#define IDS_SUBSCRIPTION_FILTER 16270
#define IDS_SUBSCRIPTION_ALL_FILES 16273
#define IDS_SUBSCRIPTION_OPEN_TITLE 16274
