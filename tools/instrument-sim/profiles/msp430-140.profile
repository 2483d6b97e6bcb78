# Meter with an MSP430F449: ROM loader 1.40 (no version command, no speed change).
name=msp430-140
start_mode=0
baud=4800
stop_bits=2
pcb=43120.201
device=43120.000
version=1.23
serial=12345679
password=1100
loader=msp430-rom
loader.version=1.40
loader.chip_id=F449
flash_start=0x1000
flash_size=0xF000
on.restart=I.30#
