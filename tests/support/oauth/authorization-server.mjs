// The authorization server of the sign-in tests: an OpenID provider over HTTPS on 127.0.0.1 with a
// public native client for the program (PKCE, refresh tokens with rotation) and a confidential
// client for the mail server's introspection. Prints "READY <port>" once it listens; appends one
// line per token request to the events file ("grant <grant_type> ok|<error>").
//   node authorization-server.mjs --cert C --key K --events FILE [--access-ttl SECONDS]
import fs from "node:fs";
import https from "node:https";
import { parseArgs } from "node:util";
import Provider from "oidc-provider";

const { values } = parseArgs({
  options: {
    cert: { type: "string" },
    key: { type: "string" },
    events: { type: "string" },
    "access-ttl": { type: "string", default: "3600" },
  },
});
const note = (line) => fs.appendFileSync(values.events, line + "\n");

const server = https.createServer({ cert: fs.readFileSync(values.cert), key: fs.readFileSync(values.key) });
server.listen(0, "127.0.0.1", () => {
  const port = server.address().port;
  const provider = new Provider(`https://127.0.0.1:${port}`, {
    clients: [
      {
        client_id: "brevgluggen-test",
        application_type: "native",
        token_endpoint_auth_method: "none",
        redirect_uris: ["http://127.0.0.1/"],
        grant_types: ["authorization_code", "refresh_token"],
        response_types: ["code"],
      },
      {
        client_id: "dovecot",
        client_secret: "dovecot-secret",
        redirect_uris: [],
        grant_types: [],
        response_types: [],
      },
    ],
    scopes: ["openid", "offline_access", "pop3"],
    pkce: { required: () => true },
    features: { introspection: { enabled: true }, devInteractions: { enabled: true } },
    issueRefreshToken: async (ctx, client) => client.grantTypeAllowed("refresh_token"),
    expiresWithSession: async () => false,
    rotateRefreshToken: true,
    ttl: {
      AccessToken: Number(values["access-ttl"]),
      AuthorizationCode: 60,
      RefreshToken: 86400,
      Grant: 86400,
      Session: 86400,
      Interaction: 3600,
    },
  });
  provider.on("grant.success", (ctx) => note(`grant ${ctx.oidc.params.grant_type} ok`));
  provider.on("grant.error", (ctx, error) => note(`grant ${ctx.oidc.params?.grant_type} ${error.error}`));
  server.on("request", provider.callback());
  process.stdout.write(`READY ${port}\n`);
});
