# fish completion for brelin-cli

set -l commands analyse get-data erase ports history

function __brelin_cli_ports
    brelin-cli ports 2>/dev/null | awk 'NR > 1 { print $2; if ($3 != "-") print $3 }'
end

complete -c brelin-cli -f
complete -c brelin-cli -n "not __fish_seen_subcommand_from $commands" -a analyse -d 'Decode a memory image file and write its report'
complete -c brelin-cli -n "not __fish_seen_subcommand_from $commands" -a get-data -d "Download the instrument's memory and write its report"
complete -c brelin-cli -n "not __fish_seen_subcommand_from $commands" -a erase -d "Clear the instrument's memory"
complete -c brelin-cli -n "not __fish_seen_subcommand_from $commands" -a ports -d 'List the serial ports found'
complete -c brelin-cli -n "not __fish_seen_subcommand_from $commands" -a history -d 'List, show and add to the history of every reading'
complete -c brelin-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Show the version'
complete -c brelin-cli -s q -l quiet -d 'Print nothing but errors'
complete -c brelin-cli -s h -l help -d 'Show help'

set -l report "__fish_seen_subcommand_from analyse get-data points show"
complete -c brelin-cli -n $report -s o -l output -r -F -d 'Report file to write; - for standard output'
complete -c brelin-cli -n $report -l format -x -a 'ascii csv' -d 'Report layout'
complete -c brelin-cli -n $report -l units -x -a 'metric imperial' -d 'Unit system'
complete -c brelin-cli -n $report -l temperature -x -a 'relative absolute' -d 'Temperature scale'
complete -c brelin-cli -n $report -l encoding -x -a 'latin1 utf8' -d 'Report text encoding'
complete -c brelin-cli -n $report -l line-end -x -a 'crlf lf' -d 'Report line ends'
complete -c brelin-cli -n "__fish_seen_subcommand_from analyse get-data" -l strict -d 'Exit with status 1 when the analysis warns'
complete -c brelin-cli -n "__fish_seen_subcommand_from analyse" -F -d 'Memory image file'
complete -c brelin-cli -n "__fish_seen_subcommand_from analyse" -l serial -x -d 'Serial number in the report header'
complete -c brelin-cli -n "__fish_seen_subcommand_from get-data erase" -l port -x -a '(__brelin_cli_ports)' -d 'Serial port'
complete -c brelin-cli -n "__fish_seen_subcommand_from get-data" -l image -r -F -d 'Where to store the memory image'
complete -c brelin-cli -n "__fish_seen_subcommand_from erase" -l yes -d 'Erase without asking'
complete -c brelin-cli -n "__fish_seen_subcommand_from ports" -l json -d 'Print the list as JSON'
set -l history_commands points show import
complete -c brelin-cli -n "__fish_seen_subcommand_from history; and not __fish_seen_subcommand_from $history_commands" -a points -d "List each instrument's points"
complete -c brelin-cli -n "__fish_seen_subcommand_from history; and not __fish_seen_subcommand_from $history_commands" -a show -d 'Print every reading of one point'
complete -c brelin-cli -n "__fish_seen_subcommand_from history; and not __fish_seen_subcommand_from $history_commands" -a import -d "Add a memory image's readings"
complete -c brelin-cli -n "__fish_seen_subcommand_from analyse get-data points show import" -l history -r -F -d 'The history file'
complete -c brelin-cli -n "__fish_seen_subcommand_from analyse" -l import -d 'Add the readings to the history'
complete -c brelin-cli -n "__fish_seen_subcommand_from get-data" -l no-history -d 'Add nothing to the history'
complete -c brelin-cli -n "__fish_seen_subcommand_from show" -l point -x -d 'The point (0 to 999)'
complete -c brelin-cli -n "__fish_seen_subcommand_from show import" -l serial -x -d 'The instrument'
complete -c brelin-cli -n "__fish_seen_subcommand_from show" -l since -x -d 'From this date or time on (UTC)'
complete -c brelin-cli -n "__fish_seen_subcommand_from show" -l until -x -d 'Up to this date or time (UTC)'
complete -c brelin-cli -n "__fish_seen_subcommand_from import" -F -d 'Memory image file'
