// Device database: the descriptions of failed calls that ZvDB's automation objects give scripts.
#pragma once

#define IDS_ZVDB_FAILED 23810
#define IDS_ZVDB_NULL_POINTER 23811
#define IDS_ZVDB_NO_MEMORY 23812
#define IDS_ZVDB_NOT_OFFERED 23813
