# The meter of the demo folder: device 43110, firmware 1.23 (older than the
# demo file's 2.00), an MSP430F149 whose ROM loader 1.60 can change speed.
name=demo-meter
start_mode=0
baud=4800
stop_bits=2
pcb=43110.201
device=43110.000
version=1.23
serial=12345678
password=C000
loader=msp430-rom
loader.version=1.60
loader.chip_id=F149
flash_start=0x1000
flash_size=0xF000
on.restart=@1500:I.30#
