# Hand-held meter with an MSP430 and a firmware image in TI-TXT form.
# The firmware talks 4800 baud 8N2 (the tool's device-protocol line); the ROM
# bootstrap loader talks 9600 baud 8E1 (a pty shows the stop bit, not the parity).
name=meter
start_mode=0
start=firmware
baud=4800
stop_bits=2

pcb=43110.201
device=43110.000
version=1.23
serial=12345678

# Answer to the password query "A.5577": the reset vector, hexadecimal.
password=F800

loader=none
loader_baud=9600
loader_stop_bits=1
probe=80
probe_answer=90

flash_start=0x1000
flash_size=0xF000

# After a new firmware starts it reports that its data are stored.
on.restart=I.30#
