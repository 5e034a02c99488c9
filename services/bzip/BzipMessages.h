// String resources of ZvBZIP.dll (language 1033): the messages the compression control
// reports, each as the result 0x80040000 + id. Also used by the resource script.
#pragma once

#define IDB_ZVBZIPC_TOOLBOX 101

#define IDS_BZIP_BLOCK_SIZE_RANGE 512
#define IDS_BZIP_WORK_FACTOR_RANGE 513
#define IDS_BZIP_CONFIG_ERROR 514
#define IDS_BZIP_PARAM_ERROR 515
#define IDS_BZIP_MEMORY_ERROR 516
#define IDS_BZIP_OUTBUFF_FULL 517
#define IDS_BZIP_IO_ERROR 518
#define IDS_BZIP_DATA_ERROR 519
#define IDS_BZIP_MAGIC_ERROR 520
#define IDS_BZIP_UNEXPECTED_EOF 521
#define IDS_BZIP_CANT_OPEN_INPUT 522
#define IDS_BZIP_CANT_OPEN_OUTPUT 523
#define IDS_BZIP_SEQUENCE_ERROR 524
#define IDS_BZIP_INPUT_EMPTY 525
#define IDS_BZIP_NOT_BYTE_ARRAY 526
#define IDS_BZIP_NOT_ONE_DIMENSION 527
