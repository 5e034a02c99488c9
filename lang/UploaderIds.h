// Resource ids of the application uploader: the progress window and the folder question.
#pragma once

#define IDD_UPLOADER 12016
#define IDC_UPLOADER_PROGRESS 14070
#define IDC_UPLOADER_TEXT 14071
// A picture of what is copied (the application installer shows the application's icon).
#define IDC_UPLOADER_PICTURE 14072

#define IDS_UPLOADER_BROWSE_TITLE 12433
#define IDS_UPLOADER_BROWSE_TEXT 12434
#define IDS_UPLOADER_CAPTION 12454
