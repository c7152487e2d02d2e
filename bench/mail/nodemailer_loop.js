// The comparison for bench_mail: COUNT messages with nodemailer, one transport (connection) each.
// Usage: node nodemailer_loop.js PORT COUNT ATTACHMENT|-   (NODE_PATH names the node_modules folder)
// Prints: RESULT <seconds> <sent> <peak RSS KiB> <CPU seconds>
const nodemailer = require('nodemailer');
const path = require('path');

async function main() {
    const [port, count, attachment] = [Number(process.argv[2]), Number(process.argv[3]), process.argv[4]];
    let sent = 0;
    const start = process.hrtime.bigint();
    for (let i = 0; i < count; ++i) {
        const transport = nodemailer.createTransport({host: '127.0.0.1', port, secure: false, ignoreTLS: true});
        const message = {
            from: 'office@practice.example',
            to: `client${i}@example.org`,
            subject: 'Your documents',
            text: 'Dear client,\nplease find your documents attached.\n',
        };
        if (attachment !== '-')
            message.attachments = [{filename: path.basename(attachment), path: attachment}];
        await transport.sendMail(message);
        transport.close();
        ++sent;
    }
    const seconds = Number(process.hrtime.bigint() - start) / 1e9;
    const usage = process.resourceUsage();
    const cpu = (usage.userCPUTime + usage.systemCPUTime) / 1e6;
    console.log(`RESULT ${seconds.toFixed(6)} ${sent} ${usage.maxRSS} ${cpu.toFixed(6)}`);
}
main().catch(error => { console.error(error); process.exit(1); });
