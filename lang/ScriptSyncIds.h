// Resource ids of the script-hosted synchronizers ZvSyncCTX15.dll and ZvSyncSH.dll: their icons
// and the conflict dialog. Icons 11921 (MailSyncIds.h) and 11924 (FileSyncIds.h) of the same
// series belong to the mail and file synchronizers.
#pragma once

#define IDI_SYNCHOST_CONTACTS 11919
#define IDI_SYNCHOST_TASKS 11920
#define IDI_SYNCHOST_MAIL 11922
#define IDI_SYNCHOST_APPOINTMENTS 11923
#define IDI_SYNCHOST_SUBSCRIPTION 11925

// Column headings and value texts of the conflict dialog's property lists.
#define IDS_SYNCHOST_PROPERTY 12367
#define IDS_SYNCHOST_VALUE 12368
#define IDS_SYNCHOST_EMPTY_VALUE 12370
#define IDS_SYNCHOST_NULL_VALUE 12371

#define IDD_SYNCHOST_CONFLICT 14275

#define IDC_SYNCHOST_LIST1 14170
#define IDC_SYNCHOST_CAPTION1 14171
#define IDC_SYNCHOST_LIST2 14172
#define IDC_SYNCHOST_CAPTION2 14173
#define IDC_SYNCHOST_FIRST 14174
#define IDC_SYNCHOST_SKIP 14175
#define IDC_SYNCHOST_SECOND 14176
