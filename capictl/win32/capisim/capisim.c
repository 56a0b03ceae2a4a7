/*
 * capisim.sys: a substitute remote-CAPI driver for the Wine tests (never installed anywhere else).
 *
 * The CAPI device ("\Device\CAPI201" or the service key's "DeviceName") answers the task's two control
 * codes: a status request whose buffer is too small at once with STATUS_BUFFER_OVERFLOW; the first
 * fitting one after each open with the current status; later ones stay pending (cancellable) until the
 * status changes. Control buffers are checked record by record (a malformed one fails with
 * STATUS_INVALID_PARAMETER), kept in a log, and a drop command removes its connection from the status.
 * The control device "\Device\CapiSimCtl" takes a new status, hands out the log and switches failing.
 */
#include <ntddk.h>

#include "capisim_ioctl.h"

#define CAPI_IOCTL_GET_STATUS 0x80012218u
#define CAPI_IOCTL_CONTROL 0x8001221Cu
#define TAG 0x6d697343u /* "Csim" in a pool dump */

static KSPIN_LOCK g_lock;
static LIST_ENTRY g_pending; /* pending status IRPs (Tail.Overlay.ListEntry) */
static UCHAR* g_status;
static ULONG g_statusBytes;
static ULONG_PTR g_generation = 1; /* a file's FsContext2 holds the generation it was last given */
static BOOLEAN g_failing;
static UCHAR* g_log;
static ULONG g_logBytes;
static PDEVICE_OBJECT g_capiDevice;
static PDEVICE_OBJECT g_controlDevice;
static WCHAR g_capiLink[80];

static ULONG Le32(const UCHAR* p)
{
    return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}

/* `prefix` followed by `name`, cut to `room` characters with the NUL. */
static VOID Join(WCHAR* out, ULONG room, const WCHAR* prefix, const WCHAR* name)
{
    ULONG n = 0;
    while (*prefix && n + 1 < room)
        out[n++] = *prefix++;
    while (*name && n + 1 < room)
        out[n++] = *name++;
    out[n] = 0;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Answers a status request from the current status (under the lock): the result to complete it with. */
static NTSTATUS Answer(PIRP irp, ULONG_PTR* information)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    *information = 0;
    if (g_failing)
        return STATUS_UNSUCCESSFUL;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < g_statusBytes)
        return STATUS_BUFFER_OVERFLOW;
    if (g_statusBytes)
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, g_status, g_statusBytes);
    stack->FileObject->FsContext2 = (PVOID)g_generation;
    *information = g_statusBytes;
    return STATUS_SUCCESS;
}

static VOID CancelStatus(PDEVICE_OBJECT device, PIRP irp)
{
    KIRQL irql;
    UNREFERENCED_PARAMETER(device);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g_lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&g_lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/*
 * Takes the pending IRPs (all, or those of one file) out of the list under the lock, each with its result
 * (`status`, or with STATUS_SUCCESS the answer from the current status), and completes them after it. An
 * IRP whose cancel routine already runs is left to it.
 */
static VOID FinishPending(PFILE_OBJECT file, NTSTATUS status)
{
    LIST_ENTRY done;
    PLIST_ENTRY entry;
    KIRQL irql;
    InitializeListHead(&done);
    KeAcquireSpinLock(&g_lock, &irql);
    entry = g_pending.Flink;
    while (entry != &g_pending) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        entry = entry->Flink;
        if (file && IoGetCurrentIrpStackLocation(irp)->FileObject != file)
            continue;
        if (IoSetCancelRoutine(irp, NULL) == NULL)
            continue;
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        if (status == STATUS_SUCCESS) {
            ULONG_PTR information;
            irp->IoStatus.Status = Answer(irp, &information);
            irp->IoStatus.Information = information;
        } else {
            irp->IoStatus.Status = status;
            irp->IoStatus.Information = 0;
        }
        InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&g_lock, irql);
    while (!IsListEmpty(&done)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

static NTSTATUS GetStatus(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG_PTR information = 0;
    NTSTATUS status;
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    if (g_failing || stack->Parameters.DeviceIoControl.OutputBufferLength < g_statusBytes
        || (ULONG_PTR)stack->FileObject->FsContext2 != g_generation) {
        status = Answer(irp, &information);
        KeReleaseSpinLock(&g_lock, irql);
        return Complete(irp, status, information);
    }
    IoSetCancelRoutine(irp, CancelStatus);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        KeReleaseSpinLock(&g_lock, irql);
        return Complete(irp, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&g_pending, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_PENDING;
}

/* Checks every record of a control buffer: 1 when all of them are well formed. */
static int ControlValid(const UCHAR* data, ULONG bytes)
{
    ULONG pos = 0;
    if (bytes == 0)
        return 0;
    while (pos < bytes) {
        ULONG kind, length;
        const UCHAR* r = data + pos;
        if (bytes - pos < 8)
            return 0;
        kind = Le32(r);
        length = Le32(r + 4);
        if (length < 8 || length > bytes - pos)
            return 0;
        if (kind == 1) {
            ULONG nameOffset, dataLength, dataOffset, i;
            if (length < 25)
                return 0;
            nameOffset = Le32(r + 12);
            dataLength = Le32(r + 16);
            dataOffset = Le32(r + 20);
            if (nameOffset < 24 || nameOffset >= length)
                return 0;
            for (i = nameOffset; i < length && r[i]; ++i) {
            }
            if (i == length)
                return 0;
            if (dataLength && (dataOffset < 24 || dataOffset > length || dataLength > length - dataOffset))
                return 0;
        } else if (kind == 2) {
            if (length != 12)
                return 0;
        } else {
            return 0;
        }
        pos += length;
    }
    return 1;
}

/* Removes the connection records with this id from the status (under the lock): 1 when one went. */
static int DropConnection(ULONG id)
{
    ULONG from = 0, to = 0;
    int dropped = 0;
    while (g_statusBytes - from >= 8) {
        ULONG length = Le32(g_status + from + 4);
        if (length < 8 || length > g_statusBytes - from)
            break;
        if (Le32(g_status + from) == 2 && length >= 12 && Le32(g_status + from + 8) == id) {
            dropped = 1;
        } else {
            RtlMoveMemory(g_status + to, g_status + from, length);
            to += length;
        }
        from += length;
    }
    if (dropped) {
        RtlMoveMemory(g_status + to, g_status + from, g_statusBytes - from);
        g_statusBytes -= from - to;
        ++g_generation;
    }
    return dropped;
}

static NTSTATUS Control(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const UCHAR* data = irp->AssociatedIrp.SystemBuffer;
    ULONG bytes = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG pos;
    int changed = 0;
    KIRQL irql;
    if (!data || !ControlValid(data, bytes)) {
        DbgPrint("capisim: malformed control buffer of %lu bytes\n", bytes);
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    KeAcquireSpinLock(&g_lock, &irql);
    if (g_logBytes + bytes <= CAPISIM_MAX_LOG) {
        RtlCopyMemory(g_log + g_logBytes, data, bytes);
        g_logBytes += bytes;
    }
    for (pos = 0; pos < bytes; pos += Le32(data + pos + 4)) {
        if (Le32(data + pos) == 2)
            changed |= DropConnection(Le32(data + pos + 8));
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (changed)
        FinishPending(NULL, STATUS_SUCCESS);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS ControlDevice(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    KIRQL irql;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case CAPISIM_IOCTL_PUSH:
        if (in > CAPISIM_MAX_STATUS || (in && !buffer))
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&g_lock, &irql);
        if (in)
            RtlCopyMemory(g_status, buffer, in);
        g_statusBytes = in;
        ++g_generation;
        KeReleaseSpinLock(&g_lock, irql);
        FinishPending(NULL, STATUS_SUCCESS);
        return Complete(irp, STATUS_SUCCESS, 0);
    case CAPISIM_IOCTL_LOG: {
        ULONG bytes;
        KeAcquireSpinLock(&g_lock, &irql);
        bytes = g_logBytes;
        if (out >= bytes && bytes)
            RtlCopyMemory(buffer, g_log, bytes);
        KeReleaseSpinLock(&g_lock, irql);
        if (out < bytes)
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return Complete(irp, STATUS_SUCCESS, bytes);
    }
    case CAPISIM_IOCTL_FAIL:
        if (in != 4 || !buffer)
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&g_lock, &irql);
        g_failing = Le32(buffer) != 0;
        ++g_generation; /* after "fail 0" the next request is answered at once */
        KeReleaseSpinLock(&g_lock, irql);
        if (Le32(buffer))
            FinishPending(NULL, STATUS_UNSUCCESSFUL);
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        if (stack->FileObject)
            stack->FileObject->FsContext2 = NULL; /* generation 0: the first request is answered at once */
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        if (device == g_capiDevice)
            FinishPending(stack->FileObject, STATUS_CANCELLED);
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
        if (device == g_controlDevice)
            return ControlDevice(irp);
        switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case CAPI_IOCTL_GET_STATUS:
            return GetStatus(irp);
        case CAPI_IOCTL_CONTROL:
            return Control(irp);
        default:
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        }
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* Makes "\Device\NAME" with its "\DosDevices\NAME" link (the link's name kept in `link`). */
static NTSTATUS MakeDevice(PDRIVER_OBJECT driver, const WCHAR* name, WCHAR* link, PDEVICE_OBJECT* device)
{
    WCHAR path[80];
    UNICODE_STRING devName, linkName;
    NTSTATUS status;
    Join(path, 80, L"\\Device\\", name);
    RtlInitUnicodeString(&devName, path);
    status = IoCreateDevice(driver, 0, &devName, 0x8001, 0, FALSE, device);
    if (!NT_SUCCESS(status))
        return status;
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    Join(link, 80, L"\\DosDevices\\", name);
    RtlInitUnicodeString(&linkName, link);
    status = IoCreateSymbolicLink(&linkName, &devName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = NULL;
    }
    return status;
}

static WCHAR g_controlLink[80];

static VOID Unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    UNREFERENCED_PARAMETER(driver);
    FinishPending(NULL, STATUS_CANCELLED);
    if (g_capiDevice) {
        RtlInitUnicodeString(&link, g_capiLink);
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(g_capiDevice);
    }
    if (g_controlDevice) {
        RtlInitUnicodeString(&link, g_controlLink);
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(g_controlDevice);
    }
    if (g_status)
        ExFreePoolWithTag(g_status, TAG);
    if (g_log)
        ExFreePoolWithTag(g_log, TAG);
}

/* The CAPI device's name from the service key's "DeviceName" (default CAPI201). */
static VOID ReadDeviceName(PUNICODE_STRING registryPath, WCHAR* name, ULONG room)
{
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING valueName;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 64 * sizeof(WCHAR)];
    PKEY_VALUE_PARTIAL_INFORMATION info = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
    ULONG got = 0;
    Join(name, room / sizeof(WCHAR), L"", L"" CAPISIM_DEFAULT_DEVICE);
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)))
        return;
    RtlInitUnicodeString(&valueName, L"" CAPISIM_DEVICE_VALUE);
    if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, sizeof buffer, &got))
        && info->Type == REG_SZ && info->DataLength >= sizeof(WCHAR) && info->DataLength < room) {
        RtlCopyMemory(name, info->Data, info->DataLength);
        name[info->DataLength / sizeof(WCHAR)] = 0;
    }
    ZwClose(key);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    WCHAR name[65];
    NTSTATUS status;
    KeInitializeSpinLock(&g_lock);
    InitializeListHead(&g_pending);
    g_status = ExAllocatePoolWithTag(NonPagedPool, CAPISIM_MAX_STATUS, TAG);
    g_log = ExAllocatePoolWithTag(NonPagedPool, CAPISIM_MAX_LOG, TAG);
    if (!g_status || !g_log) {
        Unload(driver);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
    driver->DriverUnload = Unload;
    ReadDeviceName(registryPath, name, sizeof name);
    status = MakeDevice(driver, name, g_capiLink, &g_capiDevice);
    if (NT_SUCCESS(status))
        status = MakeDevice(driver, L"" CAPISIM_CONTROL_DEVICE, g_controlLink, &g_controlDevice);
    if (!NT_SUCCESS(status)) {
        Unload(driver);
        return status;
    }
    DbgPrint("capisim: device %ws ready\n", name);
    return STATUS_SUCCESS;
}
