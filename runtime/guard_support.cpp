// Control-flow guard's part in the image, which mingw-w64 10's runtime does not carry: the two
// pointers the compiler calls through, and the load configuration that tells the loader where
// they and the linker's table of valid call targets are. The loader replaces both pointers
// with its own checks; until then (and on a system without the guard) a call goes straight on.

// Offsets follow IMAGE_LOAD_CONFIG_DIRECTORY64 up to GuardLongJumpTargetCount (0xC0 bytes);
// mingw-w64 10's winnt.h has no names for its guard fields, hence plain assembly.
//
// The shipped program's copy (SKYLOOM_SHIPPED_IMAGE) also names its stack guard as the
// security cookie, which the loader then seeds before any code runs, and restricts the
// loader's search for its static imports to System32 (DependentLoadFlags). The test programs
// keep both at zero: one of them shows what an ordinary import picks up beside the program.
#ifdef SKYLOOM_SHIPPED_IMAGE
#define SKYLOOM_DEPENDENT_LOAD_FLAGS "0x800" // LOAD_LIBRARY_SEARCH_SYSTEM32
#define SKYLOOM_SECURITY_COOKIE "__stack_chk_guard"
#else
#define SKYLOOM_DEPENDENT_LOAD_FLAGS "0"
#define SKYLOOM_SECURITY_COOKIE "0"
#endif

asm(R"(
    .text
    .p2align 4
skyloomGuardCheckNothing:
    ret
    .p2align 4
skyloomGuardDispatchDirect:
    jmp *%rax

    .section .00cfg,"dr"
    .p2align 3
    .globl __guard_check_icall_fptr
__guard_check_icall_fptr:
    .quad skyloomGuardCheckNothing
    .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
    .quad skyloomGuardDispatchDirect

    .section .rdata,"dr"
    .p2align 3
    .globl _load_config_used
_load_config_used:
    .long 0xC0                  # Size
    .fill 0x4A, 1, 0            # TimeDateStamp .. CSDVersion
    .short )" SKYLOOM_DEPENDENT_LOAD_FLAGS R"(  # DependentLoadFlags
    .quad 0                     # EditList
    .quad )" SKYLOOM_SECURITY_COOKIE R"(  # SecurityCookie
    .fill 16, 1, 0              # SEHandlerTable, SEHandlerCount: unused on x64
    .quad __guard_check_icall_fptr
    .quad __guard_dispatch_icall_fptr
    .quad __guard_fids_table    # the linker makes these from the compiler's records
    .quad __guard_fids_count
    .long __guard_flags
    .fill 12, 1, 0              # CodeIntegrity
    .quad __guard_iat_table
    .quad __guard_iat_count
    .quad __guard_longjmp_table
    .quad __guard_longjmp_count
)");
