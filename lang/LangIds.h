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
