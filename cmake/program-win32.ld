/* Section layout of the shipped 32-bit programs (GNU ld, pei-i386): the
   default script's, except that the initialised data goes behind the import
   tables instead of into a .data section of its own. Both are writable, and
   every section costs its padding to the 512-byte FileAlignment in the file.
   The programs link without the C runtime's start-up, so the pieces of the
   default script that only it uses are left out; anything unforeseen is
   placed by the linker as an orphan section. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    /* RunStaticConstructors walks this list (support/system_win32.cpp). */
    ___CTOR_LIST__ = .;
    __CTOR_LIST__ = .;
    LONG (-1);
    KEEP (*(.ctors));
    KEEP (*(.ctor));
    KEEP (*(SORT_BY_NAME(.ctors.*)));
    LONG (0);
    ___DTOR_LIST__ = .;
    __DTOR_LIST__ = .;
    LONG (-1);
    KEEP (*(.dtors));
    KEEP (*(.dtor));
    KEEP (*(SORT_BY_NAME(.dtors.*)));
    LONG (0);
  }
  .rdata BLOCK(__section_alignment__) :
  {
    *(.rdata)
    *(SORT(.rdata$*))
  }
  .eh_frame BLOCK(__section_alignment__) :
  {
    KEEP (*(.eh_frame*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(COMMON)
  }
  /DISCARD/ :
  {
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
    /* Each function's member of a MinGW import library (libkernel32s00042.o)
       adds 4 bytes to .idata$7 that only pull in the library's import
       descriptor; nothing reads them. The descriptor's DLL name, also in
       .idata$7, comes from another member and stays (were it dropped, the
       link would still succeed: scripts/check-pe.sh finds the import table
       without DLL names). */
    *s[0-9][0-9][0-9][0-9][0-9].o(.idata$7)
  }
  /* The import directory is found by this section's name and must open it. */
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* These zeroes mark the end of the import list. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    *(.data)
    *(.data2)
    *(SORT(.data$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /* Last, so that cepack build can grow or shrink it to give a package its
     version information and icon without moving anything behind it. */
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
}
