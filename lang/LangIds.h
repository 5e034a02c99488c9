// Resource ids of the language library Zv%04x.dll. Every deliverable that shows or reports a
// text takes it from the language library by one of these ids.
#pragma once

// Names under which the program and the Explorer folder register their window messages.
#define IDS_MSG_REFRESH_VIEWS 12211
#define IDS_MSG_UPDATE_VIEW 12470

// Descriptions of the two device generations.
#define IDS_DEVICE_DESCRIPTION_15 12249
#define IDS_DEVICE_DESCRIPTION_10 12252

// Service and topic names of the program's DDE file-open service.
#define IDS_DDE_SERVICE 12272
#define IDS_DDE_TOPIC 12273

// Errors of the named-item store.
#define IDS_REGISTRAR_KEY_OPEN 12359
#define IDS_REGISTRAR_VALUE_WRITE 12360
#define IDS_REGISTRAR_VALUE_READ 12361
#define IDS_REGISTRAR_VALUE_DELETE 12362
#define IDS_REGISTRAR_STRING_TOO_LONG 12363

// Texts of the hub: file operations, device lookups and the automation face's error reports.
#define IDS_HUB_BAD_RENAME 12212
#define IDS_HUB_CREATE_FOLDER_BUSY 12213
#define IDS_HUB_LISTING_FAILED 12214
#define IDS_HUB_TIMED_OUT 12215
#define IDS_HUB_CANCELLED 12236
#define IDS_HUB_CREATE_FOLDER_FAILED 12382
#define IDS_HUB_LISTENER_INTERFACE 12384
#define IDS_HUB_LISTENER_CREATE 12385
#define IDS_HUB_DEVICE_LOOKUP 12387
#define IDS_HUB_DEVICE_VERSION 12388
#define IDS_HUB_COPY_FAILED 12396
#define IDS_HUB_DELETING 12401
#define IDS_HUB_NO_DEVICE_INFO 12402
#define IDS_HUB_NAME_TOO_LONG 16219
#define IDS_HUB_FLAG_FAILED 20001
#define IDS_HUB_FREE_SPACE 20018
#define IDS_HUB_NAME_ENDS_IN_SEPARATORS 20025
// A device item whose name cannot be the name of a PC file (the Explorer folder shows it too).
#define IDS_HUB_BAD_PC_NAME 16276

// The program's title: caption of its message boxes (script error reports among them).
#define IDS_PROGRAM_TITLE 12208
// Each subsystem keeps its texts in a fragment of its own, taken in when it is present.
#if __has_include("ProgramIds.h")
#include "ProgramIds.h"
#endif
#if __has_include("HubIds.h")
#include "HubIds.h"
#endif
#if __has_include("Factory15Ids.h")
#include "Factory15Ids.h"
#endif
#if __has_include("Transfers15Ids.h")
#include "Transfers15Ids.h"
#endif
#if __has_include("Device15Ids.h")
#include "Device15Ids.h"
#endif
#if __has_include("Devlink10Ids.h")
#include "Devlink10Ids.h"
#endif
#if __has_include("SubscriptionIds.h")
#include "SubscriptionIds.h"
#endif
#if __has_include("UploaderIds.h")
#include "UploaderIds.h"
#endif
#if __has_include("SyncMgrIds.h")
#include "SyncMgrIds.h"
#endif
#if __has_include("BackupIds.h")
#include "BackupIds.h"
#endif
#if __has_include("AssocIds.h")
#include "AssocIds.h"
#endif
#if __has_include("MailSyncIds.h")
#include "MailSyncIds.h"
#endif
#if __has_include("FileSyncIds.h")
#include "FileSyncIds.h"
#endif
#if __has_include("PimBridgeIds.h")
#include "PimBridgeIds.h"
#endif
#if __has_include("ScriptSyncIds.h")
#include "ScriptSyncIds.h"
#endif
#if __has_include("PimSyncIds.h")
#include "PimSyncIds.h"
#endif
