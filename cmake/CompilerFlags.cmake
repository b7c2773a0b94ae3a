# Flags for everything that computes. Results must be bit-exact: no contraction
# into fused multiply-add, no fast-math, and no host-specific instruction sets
# (with FMA enabled GCC fuses the FFT's complex products even with contraction off).
add_library(kestrune_flags INTERFACE)
target_compile_options(kestrune_flags INTERFACE
  -Wall -Wextra -ffp-contract=off -fno-fast-math)

if(KESTRUNE_SANITIZE)
  target_compile_options(kestrune_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kestrune_flags INTERFACE -fsanitize=address,undefined)
endif()
