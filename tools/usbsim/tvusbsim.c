/* tvusbsim.sys: test USB driver for Wine.
 *
 * Each root-enumerated instance ("slot") stands for one USB port of the device emulator. The slot
 * keeps a TCP connection to the emulator (see PROTOCOL.md), switches its device interface on while
 * the emulator has a device plugged in, and answers the three requests the suite's USB code sends:
 * read (pended until the emulator sends bytes), write (forwarded to the emulator) and device
 * information (the 44-byte record of the last PLUG, answered synchronously). The loader slot also
 * takes the operating-system image request, which it forwards whole and completes with the
 * emulator's answer.
 *
 * One further instance is the host controller "\\.\HCD0" with its root hub: the hub requests
 * answer from the plug state of the slots, one hub port per slot.
 *
 * Wine runs drivers inside winedevice.exe, a user process; this driver relies on that for Winsock
 * (peer_socket.c). Wine 8 sends no IRP_MJ_CLEANUP and does not cancel a handle's pending requests
 * when the handle is closed, so reads are also cancelled on IRP_MJ_CLOSE. */
#include <ntifs.h> /* ntddk.h plus ZwWaitForSingleObject */

#include "peer_socket.h"

#define POOL_TAG 0x4d535654u /* "TVSM" in pool dumps */

#define IOCTL_SLOT_READ 0x2200A0
#define IOCTL_SLOT_WRITE 0x2200A4
#define IOCTL_SLOT_DEVICE_INFO 0x22010C
#define IOCTL_SLOT_LOAD_IMAGE 0x22003C

/* The USB hub requests (usbioctl.h), answered by the host-controller instance. The root hub's
 * name request and the node information request share one code; the device opened tells them
 * apart. */
#define IOCTL_HCD_ROOT_HUB_NAME 0x220408
#define IOCTL_HUB_NODE_INFORMATION 0x220408
#define IOCTL_HUB_NODE_CONNECTION_INFORMATION 0x22040C

#define DEVICE_INFO_BYTES 44
#define LOADER_SLOT 4
#define HCD_SLOT 5
#define HUB_PORTS 5 /* slots 0..4, port n + 1 for slot n */
#define VENDOR_ID 0x0B66
#define LOADER_PRODUCT_ID 0x40
#define DEVICE_PRODUCT_ID 0x41
/* The largest image the loader slot forwards (the emulator accepts the same). */
#define IMAGE_LIMIT (64u << 20)
#define DEFAULT_PORT 47150
#define RECONNECT_PAUSE_MS 500
#define WORKER_STOP_WAIT_MS 5000

/* The emulator sends bytes only when the host asks for them, so the queue stays small; a peer that
 * floods it past this bound is treated as a broken connection. */
#define QUEUE_LIMIT (16u << 20)
#define MESSAGE_LIMIT (QUEUE_LIMIT)

enum message_type {
    MSG_HELLO = 0x01,
    MSG_WRITE = 0x02,
    MSG_IMAGE = 0x03,
    MSG_PLUG = 0x10,
    MSG_UNPLUG = 0x11,
    MSG_DATA = 0x12,
    MSG_FAILREAD = 0x13,
    MSG_IMAGE_DONE = 0x14,
};

enum slot_kind {
    KIND_DEVICE = 0,
    KIND_LOADER = 1,
    KIND_HOST_CONTROLLER = 2,
    KIND_ROOT_HUB = 3,
};

/* {B66756D6-C253-43B1-A065-80913EC5AC72} */
static const GUID device_interface_class = {
    0xb66756d6, 0xc253, 0x43b1, {0xa0, 0x65, 0x80, 0x91, 0x3e, 0xc5, 0xac, 0x72}};
/* {00873FDF-61A8-11D1-AA5E-00C04FB1728B} */
static const GUID loader_interface_class = {
    0x00873fdf, 0x61a8, 0x11d1, {0xaa, 0x5e, 0x00, 0xc0, 0x4f, 0xb1, 0x72, 0x8b}};

typedef struct slot_device {
    DEVICE_OBJECT* lower;
    ULONG slot;
    UCHAR kind;

    UNICODE_STRING interface_name; /* valid when interface_registered */
    BOOLEAN interface_registered;
    BOOLEAN interface_on; /* touched by the worker thread and by removal after it stopped */

    /* Guards everything down to the queue. */
    KSPIN_LOCK lock;
    BOOLEAN plugged;
    BOOLEAN fail_next_read;
    UCHAR device_info[DEVICE_INFO_BYTES];
    LIST_ENTRY pending_reads; /* IRPs linked through Tail.Overlay.ListEntry */
    IRP* pending_image;       /* the loader slot's image request while the emulator has it */
    UCHAR* queue;             /* bytes from the emulator: [queue_head, queue_head + queue_length) */
    SIZE_T queue_head;
    SIZE_T queue_length;
    SIZE_T queue_capacity;

    /* Guards the socket for senders; only the worker opens and closes it. */
    KMUTEX send_lock;
    peer_socket socket;

    HANDLE worker;
    KEVENT stop_event;
    volatile LONG stopping;

    /* Host controller only: its root hub's device object and the two links made for them. */
    DEVICE_OBJECT* root_hub;
    BOOLEAN links_made;
} slot_device;

static UNICODE_STRING parameters_path; /* the service key's Parameters subkey */

/* The slots by number, for the root hub's port answers; guarded by slots_lock. */
static slot_device* slots[HUB_PORTS];
static KSPIN_LOCK slots_lock;

static const WCHAR hcd_device_name[] = L"\\Device\\TvUsbSimHcd0";
static const WCHAR hcd_link_name[] = L"\\DosDevices\\HCD0";
static const WCHAR hub_device_name[] = L"\\Device\\TvUsbSimRootHub0";
static const WCHAR hub_link_name[] = L"\\DosDevices\\TVUSBSIM#ROOT_HUB#0";
static const WCHAR hub_name[] = L"TVUSBSIM#ROOT_HUB#0"; /* what the host opens as "\\.\" + name */

static USHORT read_port(void);

/* ---- small helpers ---- */

static void complete_irp(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static void complete_irp_list(LIST_ENTRY* list, NTSTATUS status) {
    while (!IsListEmpty(list)) {
        IRP* irp = CONTAINING_RECORD(RemoveHeadList(list), IRP, Tail.Overlay.ListEntry);
        complete_irp(irp, status, 0);
    }
}

static void wait_ms(KEVENT* stop_event, ULONG milliseconds) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000LL * milliseconds;
    KeWaitForSingleObject(stop_event, Executive, KernelMode, FALSE, &timeout);
}

static SIZE_T smaller(SIZE_T a, SIZE_T b) {
    return a < b ? a : b;
}

static SIZE_T larger(SIZE_T a, SIZE_T b) {
    return a > b ? a : b;
}

static void put_u32(UCHAR* out, ULONG value) {
    out[0] = (UCHAR)value;
    out[1] = (UCHAR)(value >> 8);
    out[2] = (UCHAR)(value >> 16);
    out[3] = (UCHAR)(value >> 24);
}

static ULONG get_u32(const UCHAR* in) {
    return in[0] | ((ULONG)in[1] << 8) | ((ULONG)in[2] << 16) | ((ULONG)in[3] << 24);
}

/* Sends one message (length, type, payload) with one send call: split sends cost a delayed
 * acknowledgement per round trip. */
static BOOLEAN send_message(slot_device* dev, UCHAR type, const void* payload, ULONG size) {
    ULONG total = 5 + size;
    UCHAR* message = ExAllocatePoolWithTag(NonPagedPool, total, POOL_TAG);
    BOOLEAN sent = FALSE;

    if (!message)
        return FALSE;
    put_u32(message, 1 + size);
    message[4] = type;
    if (size)
        RtlCopyMemory(message + 5, payload, size);

    KeWaitForSingleObject(&dev->send_lock, Executive, KernelMode, FALSE, NULL);
    if (dev->socket != PEER_NO_SOCKET)
        sent = peer_send_all(dev->socket, message, total) != 0;
    KeReleaseMutex(&dev->send_lock, FALSE);

    ExFreePoolWithTag(message, POOL_TAG);
    return sent;
}

/* ---- pending reads (all under dev->lock) ---- */

static void read_cancel(DEVICE_OBJECT* device, IRP* irp) {
    slot_device* dev;
    KIRQL irql;

    (void)device; /* Wine may pass another stack location's device; use the IRP's own */
    IoReleaseCancelSpinLock(irp->CancelIrql);
    dev = IoGetCurrentIrpStackLocation(irp)->DeviceObject->DeviceExtension;

    KeAcquireSpinLock(&dev->lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&dev->lock, irql);

    complete_irp(irp, STATUS_CANCELLED, 0);
}

/* Takes the oldest pending read that is not being cancelled. */
static IRP* take_pending_read(slot_device* dev) {
    while (!IsListEmpty(&dev->pending_reads)) {
        LIST_ENTRY* entry = RemoveHeadList(&dev->pending_reads);
        IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL))
            return irp;
        /* Its cancel routine is about to run and will unlink it: leave it a valid entry. */
        InitializeListHead(entry);
    }
    return NULL;
}

static void take_all_pending_reads(slot_device* dev, LIST_ENTRY* out) {
    IRP* irp;
    while ((irp = take_pending_read(dev)))
        InsertTailList(out, &irp->Tail.Overlay.ListEntry);
}

static ULONG read_length(IRP* irp) {
    return IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
}

/* Moves queued bytes into the read's buffer; returns the count. */
static ULONG fill_read(slot_device* dev, IRP* irp) {
    SIZE_T count = smaller(read_length(irp), dev->queue_length);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, dev->queue + dev->queue_head, count);
    dev->queue_head += count;
    dev->queue_length -= count;
    if (!dev->queue_length)
        dev->queue_head = 0;
    return (ULONG)count;
}

/* Completes pending reads from the queue; the reads are moved to `done` with their results. */
static void serve_pending_reads(slot_device* dev, LIST_ENTRY* done) {
    while (dev->queue_length > 0) {
        IRP* irp = take_pending_read(dev);
        if (!irp)
            break;
        irp->IoStatus.Information = fill_read(dev, irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        InsertTailList(done, &irp->Tail.Overlay.ListEntry);
    }
}

static BOOLEAN queue_append(slot_device* dev, const UCHAR* data, SIZE_T size) {
    if (size > QUEUE_LIMIT - dev->queue_length)
        return FALSE;
    if (dev->queue_head + dev->queue_length + size > dev->queue_capacity) {
        if (dev->queue_length + size <= dev->queue_capacity) {
            RtlMoveMemory(dev->queue, dev->queue + dev->queue_head, dev->queue_length);
        } else {
            SIZE_T capacity = larger(larger(dev->queue_capacity * 2, dev->queue_length + size), 4096);
            UCHAR* grown = ExAllocatePoolWithTag(NonPagedPool, capacity, POOL_TAG);
            if (!grown)
                return FALSE;
            if (dev->queue_length)
                RtlCopyMemory(grown, dev->queue + dev->queue_head, dev->queue_length);
            if (dev->queue)
                ExFreePoolWithTag(dev->queue, POOL_TAG);
            dev->queue = grown;
            dev->queue_capacity = capacity;
        }
        dev->queue_head = 0;
    }
    RtlCopyMemory(dev->queue + dev->queue_head + dev->queue_length, data, size);
    dev->queue_length += size;
    return TRUE;
}

/* ---- the loader slot's image request (under dev->lock) ---- */

static void image_cancel(DEVICE_OBJECT* device, IRP* irp) {
    slot_device* dev;
    KIRQL irql;

    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    dev = IoGetCurrentIrpStackLocation(irp)->DeviceObject->DeviceExtension;

    KeAcquireSpinLock(&dev->lock, &irql);
    if (dev->pending_image == irp)
        dev->pending_image = NULL;
    KeReleaseSpinLock(&dev->lock, irql);

    complete_irp(irp, STATUS_CANCELLED, 0);
}

/* Takes the pending image request unless its cancel routine already owns it. */
static IRP* take_pending_image(slot_device* dev) {
    IRP* irp = dev->pending_image;
    if (!irp)
        return NULL;
    dev->pending_image = NULL;
    return IoSetCancelRoutine(irp, NULL) ? irp : NULL;
}

/* The emulator's answer to the image: u32 status (0 taken, else refused), u32 bytes taken. */
static BOOLEAN finish_image(slot_device* dev, const UCHAR* payload, ULONG size) {
    IRP* irp;
    KIRQL irql;

    if (size != 8)
        return FALSE;
    KeAcquireSpinLock(&dev->lock, &irql);
    irp = take_pending_image(dev);
    KeReleaseSpinLock(&dev->lock, irql);
    if (irp) {
        if (get_u32(payload) == 0)
            complete_irp(irp, STATUS_SUCCESS, get_u32(payload + 4));
        else
            complete_irp(irp, STATUS_IO_DEVICE_ERROR, 0);
    }
    return TRUE;
}

/* ---- plug state, driven by the worker ---- */

static void set_interface(slot_device* dev, BOOLEAN on) {
    if (!dev->interface_registered || dev->interface_on == on)
        return;
    if (NT_SUCCESS(IoSetDeviceInterfaceState(&dev->interface_name, on)))
        dev->interface_on = on;
}

static void plug(slot_device* dev, const UCHAR* record) {
    KIRQL irql;
    KeAcquireSpinLock(&dev->lock, &irql);
    RtlCopyMemory(dev->device_info, record, DEVICE_INFO_BYTES);
    dev->plugged = TRUE;
    KeReleaseSpinLock(&dev->lock, irql);
    set_interface(dev, TRUE);
}

/* Switches the interface off first, so that a client reacting to its failed read no longer
 * finds the device, then fails every pending read. */
static void unplug(slot_device* dev, NTSTATUS read_status) {
    LIST_ENTRY failed;
    KIRQL irql;

    InitializeListHead(&failed);
    KeAcquireSpinLock(&dev->lock, &irql);
    dev->plugged = FALSE;
    dev->fail_next_read = FALSE;
    dev->queue_head = dev->queue_length = 0;
    take_all_pending_reads(dev, &failed);
    {
        IRP* image = take_pending_image(dev);
        if (image)
            InsertTailList(&failed, &image->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&dev->lock, irql);

    set_interface(dev, FALSE);
    complete_irp_list(&failed, read_status);
}

static BOOLEAN deliver_data(slot_device* dev, const UCHAR* data, SIZE_T size) {
    LIST_ENTRY done;
    BOOLEAN accepted = TRUE;
    KIRQL irql;

    InitializeListHead(&done);
    KeAcquireSpinLock(&dev->lock, &irql);
    if (dev->plugged) {
        accepted = queue_append(dev, data, size);
        serve_pending_reads(dev, &done);
    }
    KeReleaseSpinLock(&dev->lock, irql);

    while (!IsListEmpty(&done)) {
        IRP* irp = CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    return accepted;
}

static void fail_one_read(slot_device* dev) {
    IRP* irp = NULL;
    KIRQL irql;

    KeAcquireSpinLock(&dev->lock, &irql);
    if (dev->plugged) {
        irp = take_pending_read(dev);
        if (!irp)
            dev->fail_next_read = TRUE;
    }
    KeReleaseSpinLock(&dev->lock, irql);

    if (irp)
        complete_irp(irp, STATUS_IO_DEVICE_ERROR, 0);
}

/* Handles one message from the emulator; FALSE drops the connection. */
static BOOLEAN handle_message(slot_device* dev, const UCHAR* message, ULONG size) {
    const UCHAR* payload = message + 1;
    ULONG payload_size = size - 1;

    switch (message[0]) {
    case MSG_PLUG:
        if (payload_size != DEVICE_INFO_BYTES)
            return FALSE;
        plug(dev, payload);
        return TRUE;
    case MSG_UNPLUG:
        unplug(dev, STATUS_DEVICE_NOT_CONNECTED);
        return TRUE;
    case MSG_DATA:
        return deliver_data(dev, payload, payload_size);
    case MSG_FAILREAD:
        fail_one_read(dev);
        return TRUE;
    case MSG_IMAGE_DONE:
        return finish_image(dev, payload, payload_size);
    default:
        return FALSE;
    }
}

static void serve_connection(slot_device* dev) {
    UCHAR hello[5];

    put_u32(hello, dev->slot);
    hello[4] = dev->kind;
    if (!send_message(dev, MSG_HELLO, hello, sizeof(hello)))
        return;

    for (;;) {
        UCHAR header[4];
        ULONG size;
        UCHAR* message;
        BOOLEAN keep;

        if (!peer_receive_exact(dev->socket, header, sizeof(header)))
            return;
        size = get_u32(header);
        if (size == 0 || size > MESSAGE_LIMIT)
            return;
        message = ExAllocatePoolWithTag(NonPagedPool, size, POOL_TAG);
        if (!message)
            return;
        keep = peer_receive_exact(dev->socket, message, size) && handle_message(dev, message, size);
        ExFreePoolWithTag(message, POOL_TAG);
        if (!keep)
            return;
    }
}

static void worker_main(void* context) {
    slot_device* dev = context;

    while (!dev->stopping) {
        peer_socket s = peer_connect_loopback(read_port());
        if (s != PEER_NO_SOCKET) {
            BOOLEAN serve;

            /* stop_worker() sets the flag before it takes the lock to interrupt the socket. */
            KeWaitForSingleObject(&dev->send_lock, Executive, KernelMode, FALSE, NULL);
            dev->socket = s;
            serve = !dev->stopping;
            KeReleaseMutex(&dev->send_lock, FALSE);

            if (serve)
                serve_connection(dev);

            KeWaitForSingleObject(&dev->send_lock, Executive, KernelMode, FALSE, NULL);
            dev->socket = PEER_NO_SOCKET;
            KeReleaseMutex(&dev->send_lock, FALSE);
            peer_close(s);

            /* A lost emulator counts as an unplug. */
            unplug(dev, STATUS_DEVICE_NOT_CONNECTED);
        }
        if (!dev->stopping)
            wait_ms(&dev->stop_event, RECONNECT_PAUSE_MS);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS start_worker(slot_device* dev) {
    if (dev->worker)
        return STATUS_SUCCESS;
    dev->stopping = 0;
    KeClearEvent(&dev->stop_event);
    return PsCreateSystemThread(&dev->worker, THREAD_ALL_ACCESS, NULL, NULL, NULL, worker_main, dev);
}

static void stop_worker(slot_device* dev) {
    LARGE_INTEGER timeout;

    if (!dev->worker)
        return;
    InterlockedExchange(&dev->stopping, 1);
    KeSetEvent(&dev->stop_event, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(&dev->send_lock, Executive, KernelMode, FALSE, NULL);
    if (dev->socket != PEER_NO_SOCKET)
        peer_interrupt(dev->socket);
    KeReleaseMutex(&dev->send_lock, FALSE);
    timeout.QuadPart = -10000LL * WORKER_STOP_WAIT_MS;
    ZwWaitForSingleObject(dev->worker, FALSE, &timeout);
    ZwClose(dev->worker);
    dev->worker = NULL;
}

/* ---- I/O requests ---- */

static NTSTATUS dispatch_create(DEVICE_OBJECT* device, IRP* irp) {
    (void)device;
    complete_irp(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

/* Ends the reads that were sent through the handle being closed or cleaned up. */
static NTSTATUS dispatch_close(DEVICE_OBJECT* device, IRP* irp) {
    slot_device* dev = device->DeviceExtension;
    FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    LIST_ENTRY cancelled;
    LIST_ENTRY *entry, *next;
    KIRQL irql;

    InitializeListHead(&cancelled);
    KeAcquireSpinLock(&dev->lock, &irql);
    for (entry = dev->pending_reads.Flink; entry != &dev->pending_reads; entry = next) {
        IRP* read = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        next = entry->Flink;
        if (IoGetCurrentIrpStackLocation(read)->FileObject != file)
            continue;
        if (!IoSetCancelRoutine(read, NULL))
            continue; /* its cancel routine owns it */
        RemoveEntryList(entry);
        InsertTailList(&cancelled, entry);
    }
    KeReleaseSpinLock(&dev->lock, irql);

    complete_irp_list(&cancelled, STATUS_CANCELLED);
    complete_irp(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

static NTSTATUS handle_read(slot_device* dev, IRP* irp) {
    NTSTATUS status;
    ULONG_PTR information = 0;
    KIRQL irql;

    if (!read_length(irp)) {
        complete_irp(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }

    KeAcquireSpinLock(&dev->lock, &irql);
    if (!dev->plugged) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (dev->fail_next_read) {
        dev->fail_next_read = FALSE;
        status = STATUS_IO_DEVICE_ERROR;
    } else if (dev->queue_length > 0 && IsListEmpty(&dev->pending_reads)) {
        information = fill_read(dev, irp);
        status = STATUS_SUCCESS;
    } else {
        IoSetCancelRoutine(irp, read_cancel);
        if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
            status = STATUS_CANCELLED;
        } else {
            IoMarkIrpPending(irp);
            InsertTailList(&dev->pending_reads, &irp->Tail.Overlay.ListEntry);
            status = STATUS_PENDING;
        }
    }
    KeReleaseSpinLock(&dev->lock, irql);

    if (status != STATUS_PENDING)
        complete_irp(irp, status, information);
    return status;
}

static NTSTATUS handle_write(slot_device* dev, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG size = stack->Parameters.DeviceIoControl.InputBufferLength;
    BOOLEAN plugged;
    NTSTATUS status = STATUS_DEVICE_NOT_CONNECTED;
    KIRQL irql;

    KeAcquireSpinLock(&dev->lock, &irql);
    plugged = dev->plugged;
    KeReleaseSpinLock(&dev->lock, irql);

    if (plugged && size <= MESSAGE_LIMIT - 1 &&
        send_message(dev, MSG_WRITE, irp->AssociatedIrp.SystemBuffer, size))
        status = STATUS_SUCCESS;
    /* The write is never copied back: report it transferred without exceeding the output. */
    complete_irp(irp, status, NT_SUCCESS(status) ? size : 0);
    return status;
}

/* Answered here, never pended: clients send it synchronously on an overlapped handle. */
static NTSTATUS handle_device_info(slot_device* dev, IRP* irp) {
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;

    if (read_length(irp) < DEVICE_INFO_BYTES) {
        complete_irp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    KeAcquireSpinLock(&dev->lock, &irql);
    if (dev->plugged)
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, dev->device_info, DEVICE_INFO_BYTES);
    else
        status = STATUS_DEVICE_NOT_CONNECTED;
    KeReleaseSpinLock(&dev->lock, irql);

    complete_irp(irp, status, NT_SUCCESS(status) ? DEVICE_INFO_BYTES : 0);
    return status;
}

/* The whole image goes to the emulator in one message; the request stays pending until the
 * emulator answers how much it took, or the loader goes away. */
static NTSTATUS handle_load_image(slot_device* dev, IRP* irp) {
    ULONG size = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength;
    NTSTATUS status = STATUS_PENDING;
    KIRQL irql;

    if (dev->kind != KIND_LOADER) {
        complete_irp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (size == 0 || size > IMAGE_LIMIT) {
        complete_irp(irp, STATUS_INVALID_BUFFER_SIZE, 0);
        return STATUS_INVALID_BUFFER_SIZE;
    }

    KeAcquireSpinLock(&dev->lock, &irql);
    if (!dev->plugged) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (dev->pending_image) {
        status = STATUS_DEVICE_BUSY;
    } else {
        IoSetCancelRoutine(irp, image_cancel);
        if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
            status = STATUS_CANCELLED;
        } else {
            IoMarkIrpPending(irp);
            dev->pending_image = irp;
        }
    }
    KeReleaseSpinLock(&dev->lock, irql);
    if (status != STATUS_PENDING) {
        complete_irp(irp, status, 0);
        return status;
    }

    if (!send_message(dev, MSG_IMAGE, irp->AssociatedIrp.SystemBuffer, size)) {
        IRP* taken;
        KeAcquireSpinLock(&dev->lock, &irql);
        taken = dev->pending_image == irp ? take_pending_image(dev) : NULL;
        KeReleaseSpinLock(&dev->lock, irql);
        if (taken)
            complete_irp(taken, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    return STATUS_PENDING;
}

/* ---- host controller and root hub ---- */

static NTSTATUS handle_root_hub_name(IRP* irp) {
    ULONG out_size = read_length(irp);
    ULONG needed = sizeof(ULONG) + sizeof(hub_name);
    UCHAR* out = irp->AssociatedIrp.SystemBuffer;
    ULONG copied;

    if (out_size < sizeof(ULONG) + sizeof(WCHAR)) {
        complete_irp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    /* A short buffer gets the length it needs and as much of the name as fits. */
    copied = (ULONG)smaller(out_size, needed);
    put_u32(out, needed);
    RtlCopyMemory(out + sizeof(ULONG), hub_name, copied - sizeof(ULONG));
    complete_irp(irp, STATUS_SUCCESS, copied);
    return STATUS_SUCCESS;
}

/* USB_NODE_INFORMATION (packed): node type 0 (hub), then the hub descriptor, whose third byte is
 * the port count. */
static NTSTATUS handle_node_information(IRP* irp) {
    enum { NODE_INFORMATION_BYTES = 76 };
    UCHAR* out = irp->AssociatedIrp.SystemBuffer;

    if (read_length(irp) < NODE_INFORMATION_BYTES) {
        complete_irp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlZeroMemory(out, NODE_INFORMATION_BYTES);
    out[4] = 9;    /* bDescriptorLength */
    out[5] = 0x29; /* hub descriptor */
    out[6] = HUB_PORTS;
    out[4 + 71] = 1; /* HubIsBusPowered, after the 71-byte hub descriptor */
    complete_irp(irp, STATUS_SUCCESS, NODE_INFORMATION_BYTES);
    return STATUS_SUCCESS;
}

static BOOLEAN slot_plugged(ULONG slot, UCHAR* kind) {
    BOOLEAN plugged = FALSE;
    KIRQL irql;

    KeAcquireSpinLock(&slots_lock, &irql);
    if (slot < HUB_PORTS && slots[slot]) {
        slot_device* dev = slots[slot];
        KeAcquireSpinLockAtDpcLevel(&dev->lock);
        plugged = dev->plugged;
        *kind = dev->kind;
        KeReleaseSpinLockFromDpcLevel(&dev->lock);
    }
    KeReleaseSpinLock(&slots_lock, irql);
    return plugged;
}

/* USB_NODE_CONNECTION_INFORMATION (packed): connection index, the 18-byte device descriptor at 4
 * (vendor at 12, product at 14), the hub flag at 24 and the connection status at 31. */
static NTSTATUS handle_connection_information(IRP* irp) {
    enum { CONNECTION_INFORMATION_BYTES = 35 };
    UCHAR* out = irp->AssociatedIrp.SystemBuffer;
    ULONG port;
    UCHAR kind = KIND_DEVICE;

    if (read_length(irp) < CONNECTION_INFORMATION_BYTES ||
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG)) {
        complete_irp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    port = get_u32(out);
    if (port < 1 || port > HUB_PORTS) {
        complete_irp(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    RtlZeroMemory(out, CONNECTION_INFORMATION_BYTES);
    put_u32(out, port);
    if (slot_plugged(port - 1, &kind)) {
        USHORT product = kind == KIND_LOADER ? LOADER_PRODUCT_ID : DEVICE_PRODUCT_ID;
        out[4] = 18;   /* bLength */
        out[5] = 1;    /* device descriptor */
        out[6] = 0x00; /* bcdUSB 2.00 */
        out[7] = 0x02;
        out[11] = 64; /* bMaxPacketSize0 */
        out[12] = (UCHAR)VENDOR_ID;
        out[13] = (UCHAR)(VENDOR_ID >> 8);
        out[14] = (UCHAR)product;
        out[15] = (UCHAR)(product >> 8);
        out[21] = 1; /* bNumConfigurations */
        out[22] = 1; /* CurrentConfigurationValue */
        out[25] = (UCHAR)port; /* DeviceAddress */
        put_u32(out + 31, 1); /* DeviceConnected */
    }
    complete_irp(irp, STATUS_SUCCESS, CONNECTION_INFORMATION_BYTES);
    return STATUS_SUCCESS;
}

static NTSTATUS dispatch_device_control(DEVICE_OBJECT* device, IRP* irp) {
    slot_device* dev = device->DeviceExtension;
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;

    if (dev->kind == KIND_HOST_CONTROLLER && code == IOCTL_HCD_ROOT_HUB_NAME)
        return handle_root_hub_name(irp);
    if (dev->kind == KIND_ROOT_HUB && code == IOCTL_HUB_NODE_INFORMATION)
        return handle_node_information(irp);
    if (dev->kind == KIND_ROOT_HUB && code == IOCTL_HUB_NODE_CONNECTION_INFORMATION)
        return handle_connection_information(irp);
    if (dev->kind == KIND_HOST_CONTROLLER || dev->kind == KIND_ROOT_HUB) {
        complete_irp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }

    switch (code) {
    case IOCTL_SLOT_LOAD_IMAGE:
        return handle_load_image(dev, irp);
    case IOCTL_SLOT_READ:
        return handle_read(dev, irp);
    case IOCTL_SLOT_WRITE:
        return handle_write(dev, irp);
    case IOCTL_SLOT_DEVICE_INFO:
        return handle_device_info(dev, irp);
    default:
        complete_irp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

/* ---- Plug and Play ---- */

static NTSTATUS signal_completion(DEVICE_OBJECT* device, IRP* irp, void* context) {
    (void)device;
    (void)irp;
    KeSetEvent(context, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Passes the request down and waits for the lower driver to finish it. */
static NTSTATUS forward_and_wait(slot_device* dev, IRP* irp) {
    KEVENT done;
    NTSTATUS status;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signal_completion, &done, TRUE, TRUE, TRUE);
    status = IoCallDriver(dev->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    return status;
}

static NTSTATUS pass_down(slot_device* dev, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(dev->lower, irp);
}

static void forget_slot(slot_device* dev) {
    KIRQL irql;
    KeAcquireSpinLock(&slots_lock, &irql);
    if (dev->slot < HUB_PORTS && slots[dev->slot] == dev)
        slots[dev->slot] = NULL;
    KeReleaseSpinLock(&slots_lock, irql);
}

static void release_host_controller(slot_device* dev) {
    UNICODE_STRING name;
    if (dev->links_made) {
        RtlInitUnicodeString(&name, hcd_link_name);
        IoDeleteSymbolicLink(&name);
        RtlInitUnicodeString(&name, hub_link_name);
        IoDeleteSymbolicLink(&name);
        dev->links_made = FALSE;
    }
    if (dev->root_hub) {
        IoDeleteDevice(dev->root_hub);
        dev->root_hub = NULL;
    }
}

static void release_slot(slot_device* dev) {
    forget_slot(dev);
    release_host_controller(dev);
    stop_worker(dev);
    unplug(dev, STATUS_NO_SUCH_DEVICE);
    if (dev->interface_registered) {
        RtlFreeUnicodeString(&dev->interface_name);
        dev->interface_registered = FALSE;
    }
    if (dev->queue) {
        ExFreePoolWithTag(dev->queue, POOL_TAG);
        dev->queue = NULL;
    }
}

static NTSTATUS dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
    slot_device* dev = device->DeviceExtension;
    NTSTATUS status;

    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = forward_and_wait(dev, irp);
        if (NT_SUCCESS(status) && dev->kind != KIND_HOST_CONTROLLER)
            status = start_worker(dev);
        complete_irp(irp, status, 0);
        return status;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT* lower = dev->lower;
        release_slot(dev);
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = pass_down(dev, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return status;
    }
    case IRP_MN_SURPRISE_REMOVAL:
        stop_worker(dev);
        unplug(dev, STATUS_NO_SUCH_DEVICE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return pass_down(dev, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return pass_down(dev, irp);
    default:
        return pass_down(dev, irp);
    }
}

static NTSTATUS dispatch_power(DEVICE_OBJECT* device, IRP* irp) {
    slot_device* dev = device->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(dev->lower, irp);
}

/* The slot number is the device's instance number: ROOT\TVUSBSIM\0000 is slot 0. */
static NTSTATUS query_slot_number(DEVICE_OBJECT* pdo, ULONG* slot) {
    IO_STATUS_BLOCK io;
    KEVENT done;
    IRP* irp;
    NTSTATUS status;
    const WCHAR* id;
    ULONG value = 0;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, NULL, 0, NULL, &done, &io);
    if (!irp)
        return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoGetNextIrpStackLocation(irp)->MinorFunction = IRP_MN_QUERY_ID;
    IoGetNextIrpStackLocation(irp)->Parameters.QueryId.IdType = BusQueryInstanceID;
    status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    if (!NT_SUCCESS(status))
        return status;

    id = (const WCHAR*)io.Information;
    if (!id)
        return STATUS_UNSUCCESSFUL;
    status = *id ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    for (const WCHAR* c = id; *c; ++c) {
        if (*c < L'0' || *c > L'9' || value > 1000) {
            status = STATUS_UNSUCCESSFUL;
            break;
        }
        value = value * 10 + (*c - L'0');
    }
    ExFreePool((void*)id);
    *slot = value;
    return status;
}

static void init_extension(slot_device* dev, ULONG slot, UCHAR kind) {
    RtlZeroMemory(dev, sizeof(*dev));
    dev->slot = slot;
    dev->kind = kind;
    dev->socket = PEER_NO_SOCKET;
    KeInitializeSpinLock(&dev->lock);
    KeInitializeMutex(&dev->send_lock, 0);
    KeInitializeEvent(&dev->stop_event, NotificationEvent, FALSE);
    InitializeListHead(&dev->pending_reads);
}

/* The host controller's own device is named and linked as "\\.\HCD0"; its root hub is a second,
 * named device linked under the name the root hub request reports. */
static NTSTATUS add_host_controller(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo, ULONG slot) {
    UNICODE_STRING device_name, link_name;
    DEVICE_OBJECT* device;
    DEVICE_OBJECT* hub;
    slot_device* dev;
    NTSTATUS status;

    RtlInitUnicodeString(&device_name, hcd_device_name);
    status = IoCreateDevice(driver, sizeof(slot_device), &device_name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    dev = device->DeviceExtension;
    init_extension(dev, slot, KIND_HOST_CONTROLLER);

    RtlInitUnicodeString(&device_name, hub_device_name);
    status = IoCreateDevice(driver, sizeof(slot_device), &device_name, FILE_DEVICE_UNKNOWN, 0, FALSE, &hub);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    init_extension(hub->DeviceExtension, slot, KIND_ROOT_HUB);
    hub->Flags &= ~DO_DEVICE_INITIALIZING;
    dev->root_hub = hub;

    RtlInitUnicodeString(&link_name, hcd_link_name);
    RtlInitUnicodeString(&device_name, hcd_device_name);
    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (NT_SUCCESS(status)) {
        RtlInitUnicodeString(&link_name, hub_link_name);
        RtlInitUnicodeString(&device_name, hub_device_name);
        status = IoCreateSymbolicLink(&link_name, &device_name);
        if (!NT_SUCCESS(status)) {
            RtlInitUnicodeString(&link_name, hcd_link_name);
            IoDeleteSymbolicLink(&link_name);
        }
    }
    if (NT_SUCCESS(status)) {
        dev->links_made = TRUE;
        dev->lower = IoAttachDeviceToDeviceStack(device, pdo);
        if (!dev->lower)
            status = STATUS_NO_SUCH_DEVICE;
    }
    if (!NT_SUCCESS(status)) {
        release_host_controller(dev);
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* device;
    slot_device* dev;
    ULONG slot;
    NTSTATUS status;
    KIRQL irql;

    status = query_slot_number(pdo, &slot);
    if (!NT_SUCCESS(status))
        return status;
    if (slot == HCD_SLOT)
        return add_host_controller(driver, pdo, slot);

    status = IoCreateDevice(driver, sizeof(slot_device), NULL, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                            FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;

    dev = device->DeviceExtension;
    init_extension(dev, slot, slot == LOADER_SLOT ? KIND_LOADER : KIND_DEVICE);

    status = IoRegisterDeviceInterface(
        pdo, dev->kind == KIND_LOADER ? &loader_interface_class : &device_interface_class, NULL,
        &dev->interface_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    dev->interface_registered = TRUE;
    /* A previous run may have left the interface marked as present. */
    dev->interface_on = TRUE;
    set_interface(dev, FALSE);
    dev->interface_on = FALSE;

    dev->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!dev->lower) {
        RtlFreeUnicodeString(&dev->interface_name);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    KeAcquireSpinLock(&slots_lock, &irql);
    if (slot < HUB_PORTS)
        slots[slot] = dev;
    KeReleaseSpinLock(&slots_lock, irql);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* Builds the path of the service key's Parameters subkey, where the installer writes the port. */
static NTSTATUS make_parameters_path(const UNICODE_STRING* registry_path) {
    static const WCHAR suffix[] = L"\\Parameters";

    parameters_path.MaximumLength = registry_path->Length + sizeof(suffix);
    parameters_path.Length = 0;
    parameters_path.Buffer = ExAllocatePoolWithTag(PagedPool, parameters_path.MaximumLength, POOL_TAG);
    if (!parameters_path.Buffer)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyUnicodeString(&parameters_path, registry_path);
    return RtlAppendUnicodeToString(&parameters_path, suffix);
}

/* The port is read before every connection attempt, so that installing into a prefix whose
 * driver already runs takes effect without restarting it. */
static USHORT read_port(void) {
    UNICODE_STRING value_name;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    ULONG returned;
    USHORT port = DEFAULT_PORT;

    InitializeObjectAttributes(&attributes, &parameters_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        RtlInitUnicodeString(&value_name, L"Port");
        if (NT_SUCCESS(ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, value, sizeof(buffer),
                                       &returned)) &&
            value->Type == REG_DWORD && value->DataLength == sizeof(ULONG)) {
            ULONG configured = *(const ULONG*)value->Data;
            if (configured > 0 && configured < 65536)
                port = (USHORT)configured;
        }
        ZwClose(key);
    }
    return port;
}

static void driver_unload(DRIVER_OBJECT* driver) {
    (void)driver;
    peer_shutdown();
    ExFreePoolWithTag(parameters_path.Buffer, POOL_TAG);
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
    NTSTATUS status = make_parameters_path(registry_path);
    if (!NT_SUCCESS(status))
        return status;
    if (!peer_startup())
        return STATUS_UNSUCCESSFUL;
    KeInitializeSpinLock(&slots_lock);

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
    driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
    driver->MajorFunction[IRP_MJ_POWER] = dispatch_power;
    driver->DriverExtension->AddDevice = add_device;
    driver->DriverUnload = driver_unload;
    return STATUS_SUCCESS;
}
