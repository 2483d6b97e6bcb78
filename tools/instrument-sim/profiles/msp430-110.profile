# Meter with an early MSP430F149: ROM loader 1.10, which needs the RAM patch.
name=msp430-110
start_mode=0
baud=4800
stop_bits=2
pcb=43110.201
device=43110.000
version=1.23
serial=12345678
# The reset vector, answered to "A.5577" and preset in the flash.
password=F800
loader=msp430-rom
loader.version=1.10
loader.chip_id=F149
flash_start=0x1000
flash_size=0xF000
on.restart=I.30#
