#!/bin/sh
# The utility runs this program at start-up and counts the lines it prints: exactly ten show
# that programs in the bundle's resources can be found and started from the bundle's path.
for n in 1 2 3 4 5 6 7 8 9 10; do
    echo "SC820 Utility resource check $n of 10"
done
