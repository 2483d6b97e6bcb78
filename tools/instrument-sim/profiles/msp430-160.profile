# Sensor instrument with an MSP430F2618-class chip: ROM loader 1.60 with the
# version command, 38400 baud after 0x20, and flash above 0xFFFF.
name=msp430-160
start_mode=0
baud=4800
stop_bits=2
pcb=43130.201
device=43130.000
version=1.23
serial=12345680
password=3100
loader=msp430-rom
loader.version=1.60
loader.chip_id=F26F
loader.main_flash=0x3100-0x1FFFF
loader.ram=0x1100-0x30FF
loader.baud_clock=808C
flash_start=0x1000
flash_size=0x1F000
on.restart=I.30#
