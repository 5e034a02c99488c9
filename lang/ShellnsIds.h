// Resources of the Explorer folder "My Zelvan": texts, menus, accelerators, dialogs and
// animations of its view, operations and properties.
#pragma once

// Texts shared with other parts of the suite (defined in their fragments).
#define IDS_NS_PROGRAM_TITLE 12208        // caption of rename errors
#define IDS_NS_MSG_REFRESH_VIEWS 12211    // registered message: other views refresh
#define IDS_NS_PAGE_TITLE 12248           // title of the properties page
#define IDS_NS_PAGE_COUNTS 12250          // "%u Files, %u Folders"
#define IDS_NS_PROTECTED 12415            // a protected item cannot be changed
#define IDS_NS_CAPTION 12469              // caption of the folder's message boxes
#define IDS_NS_MSG_UPDATE_VIEW 12470      // registered message: this view refreshes
#define IDS_NS_OPEN_VERB 16640            // "&Open" of the root's verb menu
#define IDS_NS_NEW_FOLDER_FAILED 20022    // a folder could not be created
#define IDS_NS_BAD_PC_NAME 16276          // a device name that cannot name a PC file

// Texts of the folder.
#define IDS_NS_HELP_ABOUT 11830
#define IDS_NS_HELP_SITE 11831
#define IDS_NS_SITE_VERB 12200
#define IDS_NS_SITE_FILE 12201
#define IDS_NS_COLUMN_NAME 12203
#define IDS_NS_COLUMN_TYPE 12204
#define IDS_NS_COLUMN_SIZE 12205
#define IDS_NS_COLUMN_MODIFIED 12206
#define IDS_NS_DELETE_ONE 12209
#define IDS_NS_DELETE_MANY 12210
#define IDS_NS_NEW_FOLDER 12446
#define IDS_NS_STATUS_ITEMS 12463
#define IDS_NS_STATUS_ITEMS_FREE 12464
#define IDS_NS_STATUS_SELECTED 12474
#define IDS_NS_FETCH_QUESTION 12480
#define IDS_NS_MIXED_KIND 12536
#define IDS_NS_DEVICE_GONE 16275
#define IDS_NS_PROGRAM_GONE 16277

// Menus, accelerators, dialogs and animations.
#define IDM_NS_CONTEXT 11701
#define IDA_NS_VIEW 13900
#define IDD_NS_DELETE_PROGRESS 12002
#define IDD_NS_COPY_PROGRESS 12003
#define IDD_NS_CUT_WARNING 12030
#define IDD_NS_MULTI_PROPERTIES 12534
#define IDR_NS_DELETE_ANIMATION 15000
#define IDR_NS_COPY_ANIMATION 15001

// Commands of the view.
#define IDC_NS_CONTEXT_KEY 11809
#define IDC_NS_NEW_FOLDER 11810
#define IDC_NS_OPEN 11811
#define IDC_NS_DELETE 11812
#define IDC_NS_RENAME 11813
#define IDC_NS_PROPERTIES 11814
#define IDC_NS_EXPLORE 11815
#define IDC_NS_CUT 11820
#define IDC_NS_COPY 11821
#define IDC_NS_PASTE 11822
#define IDC_NS_SELECT_ALL 11823
#define IDC_NS_HELP_ABOUT 11830
#define IDC_NS_HELP_SITE 11831
#define IDC_NS_VIEW_ICONS 11840
#define IDC_NS_VIEW_DETAILS 11841
#define IDC_NS_VIEW_SMALL 11842
#define IDC_NS_VIEW_LIST 11843
#define IDC_NS_SORT_FIRST 11844
#define IDC_NS_SORT_NONE 11848
#define IDC_NS_REFRESH 11849

// Controls of the progress, cut-warning and properties dialogs.
#define IDC_NS_TOTAL_BAR 14000
#define IDC_NS_ITEM_BAR 14001
#define IDC_NS_ERRORS 14002
#define IDC_NS_ANIMATION 14003
#define IDC_NS_CLOSE 13901
#define IDC_NS_COPY_INFO 14199
#define IDC_NS_DELETE_INFO 14200
#define IDC_NS_CUT_NO_WARNING 14027
#define IDC_NS_PAGE_KIND 12502
#define IDC_NS_PAGE_FOLDER 12503
#define IDC_NS_PAGE_SIZE 12504
#define IDC_NS_PAGE_COUNTS 12535
#define IDS_NS_PATH_TOO_LONG 12481
