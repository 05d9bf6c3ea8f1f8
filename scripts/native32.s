# Exits 0 when it runs as native 32-bit x86 code on a 64-bit kernel, 1 when
# an emulator runs it (qemu-user reports an i686 machine), and can't start at
# all where the kernel has 32-bit execution switched off and no emulator is
# registered.
        .globl  _start
        .text
_start:
        movl    $122, %eax              # uname(&name)
        movl    $name, %ebx
        int     $0x80
        movl    $1, %ebx
        cmpl    $0x5f363878, name+260   # "x86_" at name.machine
        jne     done
        cmpw    $0x3436, name+264       # "64"
        jne     done
        xorl    %ebx, %ebx
done:
        movl    $1, %eax                # exit(%ebx)
        int     $0x80
        .bss
name:   .space  6 * 65
